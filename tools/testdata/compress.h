// Streams for tests that need the plainest encoding the decoder accepts.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "encode/compress.h"

namespace morvex::testdata {

// A stream of literals only (no matches): the simplest valid encoding.
std::vector<std::uint8_t> CompressLiterals(std::span<const std::uint8_t> data);

}  // namespace morvex::testdata
