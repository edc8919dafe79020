// Holds the two binary16 paths against each other and checks the binary128 truncation and
// the binary32 rounding on their boundaries.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/ieee754.hpp"

using namespace telbit;

namespace {

int failures = 0;

void fail(const char* what, std::uint64_t input, std::uint64_t got, std::uint64_t expected) {
    if (++failures <= 20) {
        std::printf("%s: input 0x%llx gave 0x%llx, expected 0x%llx\n", what, static_cast<unsigned long long>(input),
                    static_cast<unsigned long long>(got), static_cast<unsigned long long>(expected));
    }
}

std::uint32_t bits_of(float value) { return std::bit_cast<std::uint32_t>(value); }
std::uint64_t bits_of(double value) { return std::bit_cast<std::uint64_t>(value); }

// binary16 -> binary32 by value, for the numbers (not NaN): exact arithmetic in double.
double half_value(std::uint16_t pattern) {
    const int exponent = (pattern >> 10) & 0x1F;
    const int fraction = pattern & 0x3FF;
    const double sign = (pattern & 0x8000) != 0 ? -1.0 : 1.0;
    if (exponent == 0) return sign * std::ldexp(fraction, -24);
    if (exponent == 31) return sign * INFINITY;
    return sign * std::ldexp(1024 + fraction, exponent - 25);
}

void check_widening() {
    for (std::uint32_t p = 0; p <= 0xFFFF; ++p) {
        const auto pattern = static_cast<std::uint16_t>(p);
        const float portable = half::widen_portable(pattern);
        const bool nan = ((p >> 10) & 0x1F) == 31 && (p & 0x3FF) != 0;
        if (nan) {
            const std::uint32_t expected = ((p & 0x8000U) << 16) | 0x7FC00000U | ((p & 0x3FFU) << 13);
            if (bits_of(portable) != expected) fail("widen NaN", p, bits_of(portable), expected);
        } else if (bits_of(static_cast<double>(portable)) != bits_of(half_value(pattern))) {
            fail("widen value", p, bits_of(portable), bits_of(static_cast<float>(half_value(pattern))));
        }
        if (half::hardware_available() && bits_of(half::widen_hardware(pattern)) != bits_of(portable)) {
            fail("widen hardware vs portable", p, bits_of(half::widen_hardware(pattern)), bits_of(portable));
        }
        // Narrowing what was widened gives the pattern back, NaNs made quiet.
        const std::uint16_t back = half::narrow_portable(portable);
        const std::uint16_t expected_back = nan ? static_cast<std::uint16_t>(pattern | 0x200) : pattern;
        if (back != expected_back) fail("narrow(widen)", p, back, expected_back);
    }
}

// The nearest binary16 by value, ties to even, from the exact widening of every candidate.
std::uint16_t nearest_half(float value) {
    const double target = value;
    const std::uint16_t sign = std::signbit(value) ? 0x8000 : 0;
    const double magnitude = std::fabs(target);
    if (magnitude >= 65520.0) return static_cast<std::uint16_t>(sign | 0x7C00);
    std::uint16_t low = 0;
    std::uint16_t high = 0x7BFF;
    while (low < high) {  // the largest pattern whose value does not exceed the magnitude
        const auto middle = static_cast<std::uint16_t>((low + high + 1) / 2);
        if (half_value(middle) <= magnitude) low = middle; else high = static_cast<std::uint16_t>(middle - 1);
    }
    std::uint16_t chosen = low;
    if (half_value(low) != magnitude) {
        const double below = magnitude - half_value(low);
        const double above = half_value(static_cast<std::uint16_t>(low + 1)) - magnitude;
        if (above < below || (above == below && (low & 1) != 0)) chosen = static_cast<std::uint16_t>(low + 1);
    }
    return static_cast<std::uint16_t>(sign | chosen);
}

void check_narrowing_one(std::uint32_t p, bool hardware, bool by_value) {
    const float value = std::bit_cast<float>(p);
    const std::uint16_t portable = half::narrow_portable(value);
    if (hardware) {
        const std::uint16_t fast = half::narrow_hardware(value);
        if (fast != portable) fail("narrow hardware vs portable", p, fast, portable);
    }
    if (by_value && !std::isnan(value)) {
        const std::uint16_t expected = nearest_half(value);
        if (portable != expected) fail("narrow value", p, portable, expected);
    }
}

void check_narrowing() {
    const bool hardware = half::hardware_available();
    // Every sign and exponent; the top 14 fraction bits exhaustively (they decide the result
    // and the rounding bit), the low 9 in the shapes that decide ties: none, the lowest, the
    // highest, all, and an alternating mix.
    const std::uint32_t low_shapes[] = {0x000, 0x001, 0x100, 0x1FF, 0x0AA};
    std::uint32_t counter = 0;
    for (std::uint32_t sign_exponent = 0; sign_exponent < 512; ++sign_exponent) {
        for (std::uint32_t top = 0; top < (1U << 14); ++top) {
            for (const std::uint32_t low : low_shapes) {
                const std::uint32_t p = (sign_exponent << 23) | (top << 9) | low;
                check_narrowing_one(p, hardware, ++counter % 97 == 0);
            }
        }
    }
}

void check_binary128() {
    struct Case {
        std::uint64_t high, low;
        double expected;
    };
    const std::uint64_t all_fraction_high = 0xFFFFFFFFFFFFULL;
    const Case cases[] = {
        {0x3FFFULL << 48, 0, 1.0},
        {(0x3FFFULL << 48), (1ULL << 59) | (1ULL << 52), 1.0},
        {(15361ULL << 48), 0, std::ldexp(1.0, -1022)},
        {(15360ULL << 48) | all_fraction_high, ~0ULL, 0.0},
        {(17406ULL << 48) | all_fraction_high, ~0ULL, 1.7976931348623157e308},
        {(17407ULL << 48), 0, INFINITY},
        {(1ULL << 63) | (0x7FFFULL << 48), 0, -INFINITY},
        {(1ULL << 63), 5, -0.0},
        {(1ULL << 63) | (0x4000ULL << 48) | (1ULL << 47), 0, -3.0},
    };
    for (const Case& c : cases) {
        const double got = decode_ieee754_f128(c.high, c.low);
        if (bits_of(got) != bits_of(c.expected)) fail("binary128", c.high, bits_of(got), bits_of(c.expected));
    }
    const double nan = decode_ieee754_f128((1ULL << 63) | (0x7FFFULL << 48), 1);
    if (bits_of(nan) != 0x7FF8000000000000ULL) fail("binary128 NaN", 1, bits_of(nan), 0x7FF8000000000000ULL);
}

void check_binary32_rounding() {
    const double max_float = 3.4028234663852886e38;
    const double halfway = 0x1.ffffffp127;
    const struct {
        double input;
        std::uint32_t expected;
    } cases[] = {
        {max_float, 0x7F7FFFFFU},
        {std::nextafter(halfway, 0.0), 0x7F7FFFFFU},
        {halfway, 0x7F800000U},
        {-halfway, 0xFF800000U},
        {1e300, 0x7F800000U},
        {-1e300, 0xFF800000U},
        {INFINITY, 0x7F800000U},
        {0.1, 0x3DCCCCCDU},
        {1e-50, 0U},
        {-1e-50, 0x80000000U},
        {1.0 + 0x1p-24, 0x3F800000U},  // tie to even
        {1.0 + 0x1p-24 + 0x1p-40, 0x3F800001U},
    };
    for (const auto& c : cases) {
        const std::uint32_t got = bits_of(round_to_binary32(c.input));
        if (got != c.expected) fail("round_to_binary32", bits_of(c.input), got, c.expected);
    }
    if (!std::isnan(round_to_binary32(NAN))) fail("round_to_binary32 NaN", 0, 0, 1);
    // Double rounding: 1 + 2^-11 + 2^-40 becomes the binary16 halfway point in binary32 first.
    const std::uint64_t twice = encode_ieee754_f16(round_to_binary32(1.0 + 0x1p-11 + 0x1p-40));
    if (twice != 0x3C00) fail("double rounding", 0, twice, 0x3C00);
}

}  // namespace

int main() {
    std::printf("half-precision instructions: %s\n", half::hardware_available() ? "present" : "absent (portable only)");
    check_widening();
    check_narrowing();
    check_binary128();
    check_binary32_rounding();
    if (failures != 0) {
        std::printf("%d failures\n", failures);
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
