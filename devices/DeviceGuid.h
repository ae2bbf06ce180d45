#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "devices/CaptureFormat.h"

// Identifiers made of what names a device, so that they stay the same from one
// listing to the next while indices change: a backend's four-letter tag, a
// 64-bit FNV-1a hash of the names (each followed by a separator, so that "ab",
// "c" and "a", "bc" differ), and which of several equally named devices it is.
SCaptureGuid MakeDeviceGuid(const char (&szTag)[5], std::initializer_list<std::string_view> names,
                            uint16_t nOccurrence = 0);
// Whether an identifier carries the backend's tag.
bool HasDeviceTag(const SCaptureGuid& guid, const char (&szTag)[5]);
