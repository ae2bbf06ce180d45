#include "devices/DeviceGuid.h"

#include <cstring>

namespace {

constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

uint64_t HashNames(std::initializer_list<std::string_view> names) {
    uint64_t h = kFnvOffset;
    for (const std::string_view name : names) {
        for (const char c : name) {
            h ^= static_cast<uint8_t>(c);
            h *= kFnvPrime;
        }
        h ^= 0xFF; // no name holds this byte as text
        h *= kFnvPrime;
    }
    return h;
}

} // namespace

SCaptureGuid MakeDeviceGuid(const char (&szTag)[5], std::initializer_list<std::string_view> names,
                            uint16_t nOccurrence) {
    SCaptureGuid guid{};
    const uint64_t hash = HashNames(names);
    std::memcpy(guid.bytes, szTag, 4);
    std::memcpy(guid.bytes + 4, &hash, sizeof hash);
    std::memcpy(guid.bytes + 12, &nOccurrence, sizeof nOccurrence);
    return guid;
}

bool HasDeviceTag(const SCaptureGuid& guid, const char (&szTag)[5]) {
    return std::memcmp(guid.bytes, szTag, 4) == 0;
}
