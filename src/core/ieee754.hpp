// IEEE 754 binary16, binary32, binary64 and binary128 bit patterns to and from doubles.
#pragma once

#include <cstdint>

namespace telbit {

// Decoders use only the low 16 / 32 / 64 bits of the pattern and never fail.
[[nodiscard]] double decode_ieee754_f16(std::uint64_t pattern) noexcept;
[[nodiscard]] double decode_ieee754_f32(std::uint64_t pattern) noexcept;
[[nodiscard]] double decode_ieee754_f64(std::uint64_t pattern) noexcept;
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
