#pragma once

#include <cstdint>

// The value types of the device-context drawing layer.

// A colour as red, green and blue bytes, red in the lowest byte.
using COLORREF = std::uint32_t;

constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int GetGValue(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

// The same colour as a pixel of a 32-bit RGB image (0xFFRRGGBB).
constexpr std::uint32_t PixelFromColour(COLORREF c) {
    return 0xFF000000u | (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(c)) << 8) |
           static_cast<std::uint32_t>(GetBValue(c));
}

struct CSize {
    int cx = 0;
    int cy = 0;
};

struct CPoint {
    int x = 0;
    int y = 0;
};

// Left, top, right and bottom; right and bottom lie just outside.
struct SRectangle {
    int l = 0;
    int t = 0;
    int r = 0;
    int b = 0;
};

constexpr int PS_SOLID = 0;
constexpr std::uint32_t SRCCOPY = 0x00CC0020;
