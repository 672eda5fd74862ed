// Decimal formatting of the text outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morvex {

inline constexpr std::size_t kMaxFixedLength = 330;
std::size_t FormatFixed(char* out, double value, int precision);
void AppendFixed(std::string& out, double value, int precision);
std::size_t FormatInt(char* out, std::int64_t value, int width = 0);

}  // namespace morvex
