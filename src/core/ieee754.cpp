// IEEE 754 binary16, binary32, binary64 and binary128 bit patterns to and from doubles.
#include "core/ieee754.hpp"

#include <bit>
#include <cmath>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TELBIT_HAVE_F16C_PATH 1
#else
#define TELBIT_HAVE_F16C_PATH 0
#endif

namespace telbit {

namespace half {

float widen_portable(std::uint16_t pattern) noexcept {
    const std::uint32_t sign = std::uint32_t{pattern & 0x8000U} << 16;
    const std::uint32_t exponent = (pattern >> 10) & 0x1FU;
    std::uint32_t fraction = pattern & 0x3FFU;
    std::uint32_t bits = 0;
    if (exponent == 0) {
        if (fraction == 0) {
            bits = sign;
        } else {
            // Subnormal: normalise so the leading one becomes the implicit bit.
            std::uint32_t shift = 0;
            while ((fraction & 0x400U) == 0) {
                fraction <<= 1;
                ++shift;
            }
            bits = sign | ((127 - 15 + 1 - shift) << 23) | ((fraction & 0x3FFU) << 13);
        }
    } else if (exponent == 31) {
        bits = sign | 0x7F800000U | (fraction << 13) | (fraction != 0 ? 0x400000U : 0U);
    } else {
        bits = sign | ((exponent - 15 + 127) << 23) | (fraction << 13);
    }
    return std::bit_cast<float>(bits);
}

std::uint16_t narrow_portable(float value) noexcept {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t sign = (bits >> 16) & 0x8000U;
    const std::uint32_t exponent = (bits >> 23) & 0xFFU;
    const std::uint32_t fraction = bits & 0x7FFFFFU;
    if (exponent == 255) {
        // Infinity stays infinity; a NaN keeps the top of its payload and becomes quiet.
        return static_cast<std::uint16_t>(sign | 0x7C00U | (fraction >> 13) | (fraction != 0 ? 0x200U : 0U));
    }
    const auto half_exponent = static_cast<std::int32_t>(exponent) - 112;
    if (half_exponent >= 31) return static_cast<std::uint16_t>(sign | 0x7C00U);
    if (half_exponent >= 1) {
        std::uint32_t result = sign | (static_cast<std::uint32_t>(half_exponent) << 10) | (fraction >> 13);
        // Round to nearest, ties to even; a carry may run into the exponent, up to infinity.
        if ((fraction & 0x1000U) != 0 && (fraction & 0x2FFFU) != 0) ++result;
        return static_cast<std::uint16_t>(result);
    }
    if (exponent < 102) return static_cast<std::uint16_t>(sign);
    // Subnormal result: k is between 14 and 25, so every shift below is defined.
    const std::uint32_t mantissa = fraction | 0x800000U;
    const auto k = static_cast<std::uint32_t>(14 - half_exponent);
    std::uint32_t quotient = mantissa >> k;
    const std::uint32_t halfway = std::uint32_t{1} << (k - 1);
    const std::uint32_t others = mantissa & ((std::uint32_t{1} << (k - 1)) - 1);
    if ((mantissa & halfway) != 0 && ((quotient & 1U) != 0 || others != 0)) ++quotient;
    return static_cast<std::uint16_t>(sign | quotient);
}

#if TELBIT_HAVE_F16C_PATH

bool hardware_available() noexcept {
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("f16c") != 0;
    }();
    return available;
}

__attribute__((target("f16c"))) float widen_hardware(std::uint16_t pattern) noexcept {
    return _cvtsh_ss(pattern);
}

__attribute__((target("f16c"))) std::uint16_t narrow_hardware(float value) noexcept {
    return static_cast<std::uint16_t>(_cvtss_sh(value, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

#else

bool hardware_available() noexcept { return false; }
float widen_hardware(std::uint16_t pattern) noexcept { return widen_portable(pattern); }
std::uint16_t narrow_hardware(float value) noexcept { return narrow_portable(value); }

#endif

}  // namespace half

double decode_ieee754_f16(std::uint64_t pattern) noexcept {
    const auto half_pattern = static_cast<std::uint16_t>(pattern);
    const float widened =
        half::hardware_available() ? half::widen_hardware(half_pattern) : half::widen_portable(half_pattern);
    return static_cast<double>(widened);
}

double decode_ieee754_f32(std::uint64_t pattern) noexcept {
    return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(pattern)));
}

double decode_ieee754_f64(std::uint64_t pattern) noexcept { return std::bit_cast<double>(pattern); }

double decode_ieee754_f128(std::uint64_t high, std::uint64_t low) noexcept {
    const std::uint64_t sign = high & 0x8000000000000000ULL;
    const std::uint64_t exponent = (high >> 48) & 0x7FFF;
    const std::uint64_t fraction_high = high & 0xFFFFFFFFFFFFULL;  // fraction bits 111..64
    const bool fraction_zero = fraction_high == 0 && low == 0;
    if (exponent == 0) return std::bit_cast<double>(sign);
    if (exponent == 0x7FFF) {
        if (fraction_zero) return std::bit_cast<double>(sign | 0x7FF0000000000000ULL);
        return std::bit_cast<double>(std::uint64_t{0x7FF8000000000000ULL});
    }
    if (exponent >= 0x43FF) return std::bit_cast<double>(sign | 0x7FF0000000000000ULL);
    if (exponent <= 0x3C00) return std::bit_cast<double>(sign);
    // Truncation: the 52 most significant fraction bits, the other 60 dropped.
    const std::uint64_t fraction = (fraction_high << 4) | (low >> 60);
    return std::bit_cast<double>(sign | ((exponent - 15360) << 52) | fraction);
}

float round_to_binary32(double value) noexcept {
    // Converting a double beyond the float range is undefined in C++; the magnitudes that
    // round past the largest float (from halfway between it and 2^128 up) become infinities
    // here, and everything else converts with the processor's round-to-nearest-even.
    constexpr double overflow_threshold = 0x1.ffffffp127;
    if (std::isnan(value)) return static_cast<float>(value);
    if (value >= overflow_threshold) return std::numeric_limits<float>::infinity();
    if (value <= -overflow_threshold) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

std::uint64_t encode_ieee754_f16(float value) noexcept {
    return half::hardware_available() ? half::narrow_hardware(value) : half::narrow_portable(value);
}

std::uint64_t encode_ieee754_f32(float value) noexcept { return std::bit_cast<std::uint32_t>(value); }

std::uint64_t encode_ieee754_f64(double value) noexcept { return std::bit_cast<std::uint64_t>(value); }

}  // namespace telbit
