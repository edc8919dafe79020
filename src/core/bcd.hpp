// Binary-coded decimal: packed (one digit per nibble) and unpacked/zoned (one digit per byte).
#pragma once

#include <cstdint>

#include "core/result.hpp"

namespace telbit {

[[nodiscard]] Result<std::int64_t> decode_packed_bcd(std::uint64_t value, std::uint32_t bits, bool is_signed);
[[nodiscard]] Result<std::int64_t> decode_unpacked_bcd(std::uint64_t value, std::uint32_t bits, bool is_signed);
[[nodiscard]] Result<std::uint64_t> encode_packed_bcd(std::int64_t value, std::uint32_t bits, bool is_signed);
[[nodiscard]] Result<std::uint64_t> encode_unpacked_bcd(std::int64_t value, std::uint32_t bits, bool is_signed);

}  // namespace telbit
