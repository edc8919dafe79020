// IEEE 754 conversions (placeholder until implemented).
#include "core/ieee754.hpp"

#include <bit>

namespace telbit {
double decode_ieee754_f16(std::uint64_t) noexcept { return 0.0; }
double decode_ieee754_f32(std::uint64_t pattern) noexcept {
    return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(pattern)));
}
double decode_ieee754_f64(std::uint64_t pattern) noexcept { return std::bit_cast<double>(pattern); }
double decode_ieee754_f128(std::uint64_t, std::uint64_t) noexcept { return 0.0; }
float round_to_binary32(double value) noexcept { return static_cast<float>(value); }
std::uint64_t encode_ieee754_f16(float) noexcept { return 0; }
std::uint64_t encode_ieee754_f32(float value) noexcept { return std::bit_cast<std::uint32_t>(value); }
std::uint64_t encode_ieee754_f64(double value) noexcept { return std::bit_cast<std::uint64_t>(value); }
namespace half {
float widen_portable(std::uint16_t) noexcept { return 0.0F; }
std::uint16_t narrow_portable(float) noexcept { return 0; }
bool hardware_available() noexcept { return false; }
float widen_hardware(std::uint16_t) noexcept { return 0.0F; }
std::uint16_t narrow_hardware(float) noexcept { return 0; }
}  // namespace half
}  // namespace telbit
