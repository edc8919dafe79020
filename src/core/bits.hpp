// Bit-level helpers shared by the conversions; every one is defined for all widths.
#pragma once

#include <bit>
#include <cstdint>

#include "core/platform.hpp"

namespace telbit {

// The pattern of `bits` one-bits. A shift by 64 or more is undefined, so the
// full-width case is answered without shifting.
[[nodiscard]] constexpr std::uint64_t low_mask(std::uint64_t bits) noexcept {
    return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
}

// Whether bit `position` of `value` is set; positions past 63 read as clear.
[[nodiscard]] constexpr bool bit_set(std::uint64_t value, std::uint64_t position) noexcept {
    return position < 64 && ((value >> position) & 1U) != 0;
}

// 2^bits for bits <= 63.
[[nodiscard]] constexpr std::uint64_t power_of_two(std::uint32_t bits) noexcept {
    return std::uint64_t{1} << bits;
}

[[nodiscard]] constexpr std::uint64_t reverse64(std::uint64_t value) noexcept {
    value = ((value >> 1) & 0x5555555555555555ULL) | ((value & 0x5555555555555555ULL) << 1);
    value = ((value >> 2) & 0x3333333333333333ULL) | ((value & 0x3333333333333333ULL) << 2);
    value = ((value >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((value & 0x0F0F0F0F0F0F0F0FULL) << 4);
    return byteswap64(value);
}

// Mirror the low `bits` bits of `value` (bit i moves to bit bits-1-i) and drop the rest.
// bits = 0 gives 0; bits >= 64 mirrors all 64 bits.
[[nodiscard]] constexpr std::uint64_t mirror_low_bits(std::uint64_t value, std::uint64_t bits) noexcept {
    if (bits == 0) return 0;
    if (bits >= 64) return reverse64(value);
    return reverse64(value) >> (64 - bits);  // 1 <= 64 - bits <= 63: a defined shift
}

// The bit mirror of an unpacked field as the walk defines it for any width:
// bit (i mod 64) of the accumulator sets bit ((n-1-i) mod 64) for i < n. The target
// depends only on i mod 64, so for n >= 64 it is a full reversal rotated into place.
[[nodiscard]] constexpr std::uint64_t mirror_field_pattern(std::uint64_t accumulator,
                                                           std::uint64_t bits) noexcept {
    if (bits < 64) return mirror_low_bits(accumulator, bits);
    const unsigned rotation = static_cast<unsigned>(bits % 64);  // ((n-1) mod 64) + 1, mod 64
    return std::rotl(reverse64(accumulator), static_cast<int>(rotation));
}

}  // namespace telbit
