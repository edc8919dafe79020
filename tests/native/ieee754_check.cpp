// Holds the two binary16 paths against each other (every binary16 pattern, every binary32
// pattern), checks both against exact references, and checks the binary32 widening and
// rounding, including under a changed floating-point environment, and the binary128 truncation.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "core/ieee754.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define CHECK_MXCSR 1
#else
#define CHECK_MXCSR 0
#endif

using namespace telbit;

namespace {

void fail(const char* what, std::uint64_t input, std::uint64_t got, std::uint64_t expected) {
    check::fail(std::string(what) + ": input " + check::hex(input) + " gave " + check::hex(got) + ", expected " +
                check::hex(expected));
}

std::uint32_t bits_of(float value) { return std::bit_cast<std::uint32_t>(value); }
std::uint64_t bits_of(double value) { return std::bit_cast<std::uint64_t>(value); }

// binary16 -> value, for the numbers (not NaN): exact in double.
double half_value(std::uint16_t pattern) {
    const int exponent = (pattern >> 10) & 0x1F;
    const int fraction = pattern & 0x3FF;
    const double sign = (pattern & 0x8000) != 0 ? -1.0 : 1.0;
    if (exponent == 0) return sign * std::ldexp(fraction, -24);
    if (exponent == 31) return sign * INFINITY;
    return sign * std::ldexp(1024 + fraction, exponent - 25);
}

bool is_half_nan(std::uint32_t p) { return ((p >> 10) & 0x1F) == 31 && (p & 0x3FF) != 0; }

void check_widening() {
    const bool hardware = half::hardware_available();
    for (std::uint32_t p = 0; p <= 0xFFFF; ++p) {
        const auto pattern = static_cast<std::uint16_t>(p);
        const float portable = half::widen_portable(pattern);
        if (is_half_nan(p)) {
            // Sign kept, payload in the top fraction bits, quiet bit set.
            const std::uint32_t expected = ((p & 0x8000U) << 16) | 0x7FC00000U | ((p & 0x3FFU) << 13);
            if (bits_of(portable) != expected) fail("widen NaN", p, bits_of(portable), expected);
            const std::uint64_t wide = ((std::uint64_t{p} & 0x8000U) << 48) | 0x7FF8000000000000ULL |
                                       ((std::uint64_t{p} & 0x3FFU) << 42);
            if (bits_of(decode_ieee754_f16(p)) != wide) fail("decode f16 NaN", p, bits_of(decode_ieee754_f16(p)), wide);
        } else {
            const double exact = half_value(pattern);
            if (bits_of(static_cast<double>(portable)) != bits_of(exact)) {
                fail("widen value", p, bits_of(portable), bits_of(static_cast<float>(exact)));
            }
            if (bits_of(decode_ieee754_f16(p)) != bits_of(exact)) {
                fail("decode f16", p, bits_of(decode_ieee754_f16(p)), bits_of(exact));
            }
        }
        if (hardware && bits_of(half::widen_hardware(pattern)) != bits_of(portable)) {
            fail("widen hardware vs portable", p, bits_of(half::widen_hardware(pattern)), bits_of(portable));
        }
        // Bits above the low sixteen are ignored.
        const std::uint64_t noisy = p | 0xDEADBEEF00000000ULL | (0x5A5AULL << 16);
        if (bits_of(decode_ieee754_f16(noisy)) != bits_of(decode_ieee754_f16(p))) {
            fail("decode f16 high bits", noisy, bits_of(decode_ieee754_f16(noisy)), bits_of(decode_ieee754_f16(p)));
        }
        // Narrowing what was widened gives the pattern back, NaNs made quiet.
        const std::uint16_t back = half::narrow_portable(portable);
        const std::uint16_t expected_back = is_half_nan(p) ? static_cast<std::uint16_t>(pattern | 0x200) : pattern;
        if (back != expected_back) fail("narrow(widen)", p, back, expected_back);
    }
}

// The nearest binary16 by value, ties to even, found among the exact widenings of all candidates.
std::uint16_t nearest_half(float value) {
    const std::uint16_t sign = std::signbit(value) ? 0x8000 : 0;
    const double magnitude = std::fabs(static_cast<double>(value));
    if (magnitude >= 65520.0) return static_cast<std::uint16_t>(sign | 0x7C00);  // halfway past 65504
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

// The expected binary16 of any binary32, NaNs included.
std::uint16_t expected_half(std::uint32_t p) {
    const float value = std::bit_cast<float>(p);
    if (!std::isnan(value)) return nearest_half(value);
    return static_cast<std::uint16_t>(((p >> 16) & 0x8000U) | 0x7E00U | ((p & 0x7FFFFFU) >> 13));
}

// Both narrowing paths over every binary32 pattern whose binary16 depends on its fraction bits:
// both signs of the exponents around the binary16 range (where rounding happens) and of the
// NaNs (where the payload is kept), plus the binary32 subnormals. The other exponents give
// only zeros and infinities and are swept densely below. TELBIT_EXHAUSTIVE=1 takes all 2^32
// patterns (about ten seconds per core with the sanitizers).
void check_narrowing_exhaustively() {
    if (!half::hardware_available()) {
        std::printf("note: no half-precision instructions, hardware narrowing comparison skipped\n");
        return;
    }
    std::vector<std::uint32_t> exponents;
    const char* everything = std::getenv("TELBIT_EXHAUSTIVE");
    for (std::uint32_t exponent = 0; exponent < 256; ++exponent) {
        const bool decisive = exponent == 0 || (exponent >= 100 && exponent <= 144) || exponent == 255;
        if (decisive || (everything != nullptr && everything[0] == '1')) exponents.push_back(exponent);
    }
    // One block of 2^23 patterns per sign and exponent, handed out to the available cores.
    const std::size_t blocks = exponents.size() * 2;
    std::atomic<std::size_t> next_block{0};
    std::atomic<std::uint64_t> mismatches{0};
    std::atomic<std::uint32_t> first_mismatch{0};
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1U, 16U);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (std::size_t block = next_block++; block < blocks; block = next_block++) {
                const std::uint32_t base = ((block % 2 == 0 ? 0U : 1U) << 31) | (exponents[block / 2] << 23);
                std::uint64_t local = 0;
                for (std::uint32_t fraction = 0; fraction <= 0x7FFFFF; ++fraction) {
                    const float value = std::bit_cast<float>(base | fraction);
                    if (half::narrow_hardware(value) != half::narrow_portable(value) && local++ == 0) {
                        first_mismatch = base | fraction;
                    }
                }
                mismatches += local;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    std::printf("narrowing compared on %zu x 2^23 binary32 patterns\n", blocks);
    if (mismatches != 0) {
        const std::uint32_t p = first_mismatch;
        const float value = std::bit_cast<float>(p);
        std::printf("%llu binary32 patterns narrow differently in hardware\n",
                    static_cast<unsigned long long>(mismatches.load()));
        fail("narrow hardware vs portable", p, half::narrow_hardware(value), half::narrow_portable(value));
    }
}

// Every sign and exponent, the top 14 fraction bits exhaustively (they decide the result and
// the rounding bit), the low 9 in the shapes that decide ties: none, lowest, highest, all, a
// mix. The public encoder and a sample against the exact reference.
void check_narrowing_dense() {
    const std::uint32_t low_shapes[] = {0x000, 0x001, 0x100, 0x1FF, 0x0AA};
    std::uint32_t counter = 0;
    for (std::uint32_t sign_exponent = 0; sign_exponent < 512; ++sign_exponent) {
        for (std::uint32_t top = 0; top < (1U << 14); ++top) {
            for (const std::uint32_t low : low_shapes) {
                const std::uint32_t p = (sign_exponent << 23) | (top << 9) | low;
                const float value = std::bit_cast<float>(p);
                const std::uint16_t portable = half::narrow_portable(value);
                if (encode_ieee754_f16(value) != portable) fail("encode f16 vs portable", p, encode_ieee754_f16(value), portable);
                const bool nan = std::isnan(value);
                if ((nan || ++counter % 61 == 0) && portable != expected_half(p)) {
                    fail("narrow value", p, portable, expected_half(p));
                }
            }
        }
    }
}

// The classes that decide narrowing, each with its expected binary16 worked out by hand.
void check_narrowing_classes() {
    const struct {
        std::uint32_t input;
        std::uint16_t expected;
    } cases[] = {
        {0x00000000, 0x0000}, {0x80000000, 0x8000},          // zeros keep their sign
        {0x00000001, 0x0000}, {0x807FFFFF, 0x8000},          // binary32 subnormals vanish
        {0x33000000, 0x0000},                                // 2^-25: halfway to 2^-24, ties to even 0
        {0x33000001, 0x0001},                                // just above: up
        {0x32FFFFFF, 0x0000},                                // just below: down
        {0x33C00000, 0x0002},                                // 1.5 * 2^-24... is 3 * 2^-25: tie to even 2
        {0x33800000, 0x0001},                                // 2^-24, the smallest subnormal
        {0x387FC000, 0x03FF},                                // largest subnormal exactly
        {0x387FE000, 0x0400},                                // halfway between it and 2^-14: up to even
        {0x38800000, 0x0400},                                // 2^-14, the smallest normal
        {0x3F800000, 0x3C00},                                // 1
        {0x3F801000, 0x3C00},                                // 1 + 2^-11: tie, stays even
        {0x3F803000, 0x3C02},                                // 1 + 3 * 2^-11: tie, up to even
        {0x3F801001, 0x3C01},                                // just above the tie
        {0x3F800FFF, 0x3C00},                                // just below the tie
        {0x477FE000, 0x7BFF},                                // 65504, the largest finite
        {0x477FEFFF, 0x7BFF},                                // just below 65520
        {0x477FF000, 0x7C00},                                // 65520: tie, carries into infinity
        {0x47800000, 0x7C00},                                // 65536
        {0x7F7FFFFF, 0x7C00},                                // the largest binary32
        {0xFF7FFFFF, 0xFC00},
        {0x7F800000, 0x7C00}, {0xFF800000, 0xFC00},          // infinities
        {0x7FC00000, 0x7E00}, {0xFFC00000, 0xFE00},          // quiet NaNs
        {0x7F800001, 0x7E00},                                // signalling NaN, payload below bit 13: quiet
        {0x7FA00000, 0x7F00},                                // signalling NaN, payload kept and quieted
        {0xFFBFE000, 0xFFFF},                                // every payload bit that fits
        {0x7F802000, 0x7E01},
    };
    for (const auto& c : cases) {
        const float value = std::bit_cast<float>(c.input);
        if (half::narrow_portable(value) != c.expected) fail("narrow class", c.input, half::narrow_portable(value), c.expected);
        if (encode_ieee754_f16(value) != c.expected) fail("encode f16 class", c.input, encode_ieee754_f16(value), c.expected);
        if (half::hardware_available() && half::narrow_hardware(value) != c.expected) {
            fail("narrow hardware class", c.input, half::narrow_hardware(value), c.expected);
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
        {(0x3FFFULL << 48), (1ULL << 59) | (1ULL << 52), 1.0},  // truncated, not rounded
        {(0x3FFFULL << 48), 1ULL << 60, 1.0 + 0x1p-52},
        {(15361ULL << 48), 0, std::ldexp(1.0, -1022)},
        {(15360ULL << 48) | all_fraction_high, ~0ULL, 0.0},     // no binary64 subnormal
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

// Doubles that sit on, beside and between the binary32 rounding boundaries, plus random ones.
std::vector<double> rounding_inputs() {
    std::vector<double> inputs;
    check::Random random(0x9E3779B97F4A7C15ULL);
    for (int i = 0; i < 2000000; ++i) inputs.push_back(std::bit_cast<double>(random()));
    for (std::uint32_t exponent = 0; exponent < 256; ++exponent) {
        for (int k = 0; k < 200; ++k) {
            const std::uint32_t fraction = static_cast<std::uint32_t>(random()) & 0x7FFFFFU;
            const std::uint32_t p = (exponent << 23) | fraction;
            const double value = std::bit_cast<float>(p);
            // The point halfway to the next binary32 and its neighbours, either sign.
            const double next = std::bit_cast<float>(p + 1);
            const double halfway = exponent == 254 && fraction == 0x7FFFFF ? 0x1.ffffffp127 : value + (next - value) / 2;
            for (const double x : {value, halfway, std::nextafter(halfway, 0.0), std::nextafter(halfway, INFINITY)}) {
                inputs.push_back(x);
                inputs.push_back(-x);
            }
        }
    }
    // Far below the binary32 subnormals, and the double subnormals.
    for (int e = -1074; e <= -140; ++e) inputs.push_back(std::ldexp(1.0, e) * 1.5);
    return inputs;
}

// What binary32 rounding gives, by the processor's conversion in the default environment.
std::uint32_t processor_rounding(double x) {
    if (std::isnan(x)) return bits_of(static_cast<float>(x));
    // Halfway between the largest binary32 and 2^128 and beyond round to infinity; the cast
    // is kept to the range where it is defined.
    if (std::fabs(x) >= 0x1.ffffffp127) return std::signbit(x) ? 0xFF800000U : 0x7F800000U;
    return bits_of(static_cast<float>(x));
}

void check_binary32(const std::vector<double>& inputs, const std::vector<std::uint32_t>& rounded,
                    const char* environment) {
    char what[96];
    std::snprintf(what, sizeof what, "round_to_binary32 (%s)", environment);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::uint32_t got = bits_of(round_to_binary32(inputs[i]));
        if (got != rounded[i]) fail(what, bits_of(inputs[i]), got, rounded[i]);
    }
    // Widening: every binary32 subnormal (both signs) and every exponent with sampled fractions.
    std::snprintf(what, sizeof what, "decode f32 (%s)", environment);
    for (std::uint32_t fraction = 1; fraction <= 0x7FFFFF; ++fraction) {
        for (const std::uint32_t sign : {0U, 0x80000000U}) {
            const double expected = (sign != 0 ? -1.0 : 1.0) * std::ldexp(static_cast<double>(fraction), -149);
            const double got = decode_ieee754_f32(sign | fraction);
            if (bits_of(got) != bits_of(expected)) fail(what, sign | fraction, bits_of(got), bits_of(expected));
        }
    }
    for (std::uint32_t exponent = 1; exponent < 255; ++exponent) {
        for (std::uint32_t fraction = 0; fraction <= 0x7FFFFF; fraction += 0x1FF) {
            const std::uint32_t p = (exponent << 23) | fraction;
            const double expected = std::ldexp(static_cast<double>(0x800000 | fraction), static_cast<int>(exponent) - 150);
            if (bits_of(decode_ieee754_f32(p)) != bits_of(expected)) fail(what, p, bits_of(decode_ieee754_f32(p)), bits_of(expected));
        }
    }
    const struct {
        std::uint32_t input;
        std::uint64_t expected;
    } specials[] = {
        {0x00000000, 0x0000000000000000ULL}, {0x80000000, 0x8000000000000000ULL},
        {0x7F800000, 0x7FF0000000000000ULL}, {0xFF800000, 0xFFF0000000000000ULL},
        {0x7FC00000, 0x7FF8000000000000ULL}, {0xFF800001, 0xFFF8000020000000ULL},  // quieted, payload kept
        {0x7FFFFFFF, 0x7FFFFFFFE0000000ULL},
    };
    for (const auto& s : specials) {
        if (bits_of(decode_ieee754_f32(s.input)) != s.expected) fail(what, s.input, bits_of(decode_ieee754_f32(s.input)), s.expected);
    }
    // The high 32 bits of the pattern are ignored.
    if (bits_of(decode_ieee754_f32(0xFFFFFFFF3F800000ULL)) != bits_of(1.0)) fail(what, 0xFFFFFFFF3F800000ULL, 0, 1);
    // The binary16 encoder on the binary32 subnormals, which denormals-are-zero would touch.
    for (std::uint32_t fraction = 1; fraction <= 0x7FFFFF; fraction += 0x3FF) {
        for (const std::uint32_t sign : {0U, 0x80000000U}) {
            const std::uint64_t got = encode_ieee754_f16(std::bit_cast<float>(sign | fraction));
            if (got != sign >> 16) fail("encode f16 of a binary32 subnormal", sign | fraction, got, sign >> 16);
        }
    }
}

void check_binary32_examples() {
    const struct {
        double input;
        std::uint32_t expected;
    } cases[] = {
        {3.4028234663852886e38, 0x7F7FFFFFU},
        {std::nextafter(0x1.ffffffp127, 0.0), 0x7F7FFFFFU},
        {0x1.ffffffp127, 0x7F800000U},  // halfway to 2^128: even is infinity
        {-0x1.ffffffp127, 0xFF800000U},
        {1e300, 0x7F800000U},
        {-1e300, 0xFF800000U},
        {INFINITY, 0x7F800000U},
        {0.1, 0x3DCCCCCDU},
        {1e-50, 0U},
        {-1e-50, 0x80000000U},
        {0x1p-150, 0U},                      // halfway to the smallest subnormal: even is zero
        {std::nextafter(0x1p-150, 1.0), 1U},
        {0x1.8p-149, 2U},                    // 1.5 units: tie to even 2
        {0x1.fffffep-127, 0x00800000U},      // halfway above the largest subnormal: up to even
        {1.0 + 0x1p-24, 0x3F800000U},        // tie to even
        {1.0 + 0x1p-24 + 0x1p-40, 0x3F800001U},
    };
    for (const auto& c : cases) {
        const std::uint32_t got = bits_of(round_to_binary32(c.input));
        if (got != c.expected) fail("round_to_binary32", bits_of(c.input), got, c.expected);
    }
    const std::uint32_t nan = bits_of(round_to_binary32(std::bit_cast<double>(0xFFF4000000000001ULL)));
    if (nan != 0xFFE00000U) fail("round_to_binary32 NaN", 0xFFF4000000000001ULL, nan, 0xFFE00000U);
    // Double rounding: 1 + 2^-11 + 2^-40 becomes the binary16 halfway point in binary32 first.
    const std::uint64_t twice = encode_ieee754_f16(round_to_binary32(1.0 + 0x1p-11 + 0x1p-40));
    if (twice != 0x3C00) fail("double rounding", 0, twice, 0x3C00);
}

// The conversions must not depend on the floating-point environment, which another library in
// the process can change: rounding direction, flush-to-zero, denormals-are-zero.
void check_environments() {
    const std::vector<double> inputs = rounding_inputs();
    std::vector<std::uint32_t> rounded(inputs.size());
    std::transform(inputs.begin(), inputs.end(), rounded.begin(), processor_rounding);
    check_binary32(inputs, rounded, "default environment");

    const int saved_rounding = std::fegetround();
    if (std::fesetround(FE_UPWARD) == 0) {
        check_binary32(inputs, rounded, "rounding upward");
        std::fesetround(saved_rounding);
    }
#if CHECK_MXCSR
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040U);  // flush-to-zero (bit 15) and denormals-are-zero (bit 6)
    check_binary32(inputs, rounded, "flush-to-zero and denormals-are-zero");
    check_narrowing_classes();
    _mm_setcsr(saved);
#endif
}

}  // namespace

int main() {
    std::printf("half-precision instructions: %s\n", half::hardware_available() ? "present" : "absent (portable only)");
    check_widening();
    check_narrowing_classes();
    check_narrowing_dense();
    check_narrowing_exhaustively();
    check_binary128();
    check_binary32_examples();
    check_environments();
    return check::verdict();
}
