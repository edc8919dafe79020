// IEEE 754 binary16, binary32, binary64 and binary128 bit patterns to and from doubles.
#pragma once

#include <bit>
#include <cstdint>

namespace telbit {

// binary32 -> binary64 on the bits. The processor's conversion obeys the denormals-are-zero
// flag, which a library loaded into the same process may have set (fast-math start-up code
// does); binary32 subnormals would then decode as zero.
[[nodiscard]] constexpr double widen_binary32(std::uint32_t bits) noexcept {
    const std::uint64_t sign = std::uint64_t{bits & 0x80000000U} << 32;
    const std::uint32_t exponent = (bits >> 23) & 0xFFU;
    const std::uint64_t fraction = bits & 0x7FFFFFU;
    if (exponent == 255) {
        // Infinity, or a NaN that keeps its sign and payload and becomes quiet.
        const std::uint64_t quiet = fraction != 0 ? 0x0008000000000000ULL : 0;
        return std::bit_cast<double>(sign | 0x7FF0000000000000ULL | quiet | (fraction << 29));
    }
    if (exponent != 0) {
        return std::bit_cast<double>(sign | (std::uint64_t{exponent + 896} << 52) | (fraction << 29));
    }
    if (fraction == 0) return std::bit_cast<double>(sign);
    // Subnormal: fraction * 2^-149 with its leading one at bit (width - 1), 1 <= width <= 23.
    const auto width = static_cast<std::uint64_t>(std::bit_width(fraction));
    const std::uint64_t normalised = (fraction << (53 - width)) & 0xFFFFFFFFFFFFFULL;  // shift 30..52
    return std::bit_cast<double>(sign | ((width + 873) << 52) | normalised);
}

// Decoders use only the low 16 / 32 / 64 bits of the pattern and never fail.
[[nodiscard]] double decode_ieee754_f16(std::uint64_t pattern) noexcept;
[[nodiscard]] constexpr double decode_ieee754_f32(std::uint64_t pattern) noexcept {
    return widen_binary32(static_cast<std::uint32_t>(pattern));
}
[[nodiscard]] constexpr double decode_ieee754_f64(std::uint64_t pattern) noexcept { return std::bit_cast<double>(pattern); }
// binary128 to binary64 by truncation; `high` holds bits 127..64, `low` bits 63..0.
[[nodiscard]] double decode_ieee754_f128(std::uint64_t high, std::uint64_t low) noexcept;

// Round to nearest binary32, ties to even; overflow gives an infinity, NaN stays NaN.
[[nodiscard]] float round_to_binary32(double value) noexcept;

[[nodiscard]] std::uint64_t encode_ieee754_f16(float value) noexcept;
[[nodiscard]] std::uint64_t encode_ieee754_f32(float value) noexcept;
[[nodiscard]] std::uint64_t encode_ieee754_f64(double value) noexcept;

// The two binary16 paths, exposed so that tests and fuzzers can hold them against each other.
namespace half {
[[nodiscard]] float widen_portable(std::uint16_t pattern) noexcept;
[[nodiscard]] std::uint16_t narrow_portable(float value) noexcept;
// Whether the processor has half-precision conversion instructions (checked once).
[[nodiscard]] bool hardware_available() noexcept;
// Only valid when hardware_available().
[[nodiscard]] float widen_hardware(std::uint16_t pattern) noexcept;
[[nodiscard]] std::uint16_t narrow_hardware(float value) noexcept;
}  // namespace half

}  // namespace telbit
