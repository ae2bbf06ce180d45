#pragma once

#include <array>
#include <cstdint>

// A perceptually uniform colour map from black through red and orange to pale
// yellow, whose lightness rises evenly: 256 entries as 0xRRGGBB, from the
// lowest level to the highest.
const std::array<std::uint32_t, 256>& InfernoTable();
