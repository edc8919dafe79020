// IEEE 754 binary16, binary32, binary64 and binary128 bit patterns to and from doubles.
#include "core/ieee754.hpp"

#include <bit>

#include "core/platform.hpp"

#if TELBIT_HAVE_F16C
#include <cpuid.h>
#include <immintrin.h>
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

#if TELBIT_HAVE_F16C

namespace {

// F16C is a VEX-encoded extension: the processor must offer it and the operating system must
// save the AVX register state (OSXSAVE, and XCR0 bits 1 and 2).
bool detect_f16c() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    constexpr unsigned f16c = 1U << 29;
    constexpr unsigned osxsave = 1U << 27;
    constexpr unsigned avx = 1U << 28;
    if ((ecx & (f16c | osxsave | avx)) != (f16c | osxsave | avx)) return false;
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    return (xcr0_low & 0x6U) == 0x6U;
}

}  // namespace

bool hardware_available() noexcept {
    static const bool available = detect_f16c();
    return available;
}

TELBIT_TARGET_F16C float widen_hardware(std::uint16_t pattern) noexcept {
    return _cvtsh_ss(pattern);
}

// The vector form: clang's scalar _cvtss_sh expands to a compound literal, which is no C++.
TELBIT_TARGET_F16C std::uint16_t narrow_hardware(float value) noexcept {
    const __m128i narrowed = _mm_cvtps_ph(_mm_set_ss(value), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    return static_cast<std::uint16_t>(_mm_cvtsi128_si32(narrowed));
}

#else

bool hardware_available() noexcept { return false; }
float widen_hardware(std::uint16_t pattern) noexcept { return widen_portable(pattern); }
std::uint16_t narrow_hardware(float value) noexcept { return narrow_portable(value); }

#endif

}  // namespace half

namespace {

// binary32 -> binary64 on the bits. The processor's conversion obeys the denormals-are-zero
// flag, which a library loaded into the same process may have set (fast-math start-up code
// does); binary32 subnormals would then decode as zero.
double widen_binary32(std::uint32_t bits) noexcept {
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

}  // namespace

double decode_ieee754_f16(std::uint64_t pattern) noexcept {
    const auto half_pattern = static_cast<std::uint16_t>(pattern);
    const float widened =
        half::hardware_available() ? half::widen_hardware(half_pattern) : half::widen_portable(half_pattern);
    return widen_binary32(std::bit_cast<std::uint32_t>(widened));
}

double decode_ieee754_f32(std::uint64_t pattern) noexcept {
    return widen_binary32(static_cast<std::uint32_t>(pattern));
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
    // On the bits rather than with a cast: converting a double beyond the float range is
    // undefined in C++, and the processor's conversion follows the dynamic rounding mode and
    // the flush-to-zero flag, either of which another library in the process may change.
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto sign = static_cast<std::uint32_t>((bits >> 32) & 0x80000000U);
    const auto exponent = static_cast<std::uint32_t>((bits >> 52) & 0x7FFU);
    const std::uint64_t fraction = bits & 0xFFFFFFFFFFFFFULL;
    if (exponent == 0x7FF) {
        // Infinity, or a NaN that keeps its sign and the top of its payload and becomes quiet.
        const std::uint32_t quiet = fraction != 0 ? 0x400000U : 0U;
        return std::bit_cast<float>(sign | 0x7F800000U | quiet | static_cast<std::uint32_t>(fraction >> 29));
    }
    if (exponent >= 1151) return std::bit_cast<float>(sign | 0x7F800000U);  // |value| >= 2^128
    if (exponent >= 897) {
        // A normal binary32 (biased exponent 1..254) before rounding; 29 fraction bits go.
        std::uint32_t result = sign | ((exponent - 896) << 23) | static_cast<std::uint32_t>(fraction >> 29);
        const std::uint64_t dropped = fraction & 0x1FFFFFFFU;
        // Ties to even; a carry runs into the exponent, from the largest float up to infinity.
        if (dropped > 0x10000000U || (dropped == 0x10000000U && (result & 1U) != 0)) ++result;
        return std::bit_cast<float>(result);
    }
    // A binary32 subnormal or zero: the result counts units of 2^-149. The value is
    // mantissa * 2^(exponent - 1075), so `shift` bits of the 53-bit mantissa go.
    if (exponent == 0) return std::bit_cast<float>(sign);  // below 2^-1022: far under half a unit
    const std::uint64_t mantissa = fraction | 0x10000000000000ULL;
    const std::uint32_t shift = 926 - exponent;  // >= 30, since exponent <= 896
    if (shift > 53) return std::bit_cast<float>(sign);  // below half of 2^-149; also keeps the shifts under 64
    auto units = static_cast<std::uint32_t>(mantissa >> shift);
    const std::uint64_t halfway = std::uint64_t{1} << (shift - 1);
    const std::uint64_t dropped = mantissa & ((halfway << 1) - 1);
    if (dropped > halfway || (dropped == halfway && (units & 1U) != 0)) ++units;
    return std::bit_cast<float>(sign | units);  // a carry to 2^23 is the smallest normal
}

std::uint64_t encode_ieee754_f16(float value) noexcept {
    return half::hardware_available() ? half::narrow_hardware(value) : half::narrow_portable(value);
}

std::uint64_t encode_ieee754_f32(float value) noexcept { return std::bit_cast<std::uint32_t>(value); }

std::uint64_t encode_ieee754_f64(double value) noexcept { return std::bit_cast<std::uint64_t>(value); }

}  // namespace telbit
