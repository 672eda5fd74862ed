// Our own compressor for the it3 stream format: test data, benchmark inputs, fuzz seeds and the
// bundled sample. Not a user feature.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace morvex::testdata {

// A stream that the decompressor expands back to exactly `data`.
std::vector<std::uint8_t> Compress(std::span<const std::uint8_t> data);

// A stream of literals only (no matches): the simplest valid encoding.
std::vector<std::uint8_t> CompressLiterals(std::span<const std::uint8_t> data);

}  // namespace morvex::testdata
