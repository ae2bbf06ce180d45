#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

// Formats a short text of a frame (a label, a readout) for TextOut.
template <typename... Args> std::string FormatText(const char* pszFormat, Args... args) {
    char sz[160];
    const int n = std::snprintf(sz, sizeof sz, pszFormat, args...);
    return std::string(sz, static_cast<std::size_t>(std::clamp(n, 0, int(sizeof sz) - 1)));
}
