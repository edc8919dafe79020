// Holds the four BCD layouts against a reference built on decimal strings, over many values and
// every kind of width up to 2^32 - 1, and checks that every encoded pattern decodes back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "check.hpp"
#include "core/bcd.hpp"

using namespace telbit;
using check::hex;

namespace {

// An expected outcome: a value or the exact message of a ValueError.
template <class T>
struct Outcome {
    bool ok;
    T value;
    std::string message;
};

template <class T>
Outcome<T> success(T value) {
    return {true, value, {}};
}
template <class T>
Outcome<T> failure(std::string message) {
    return {false, T{}, std::move(message)};
}

template <class T>
std::string describe(const Outcome<T>& outcome) {
    if (!outcome.ok) return "error \"" + outcome.message + "\"";
    return std::is_signed_v<T> ? std::to_string(outcome.value) : hex(static_cast<std::uint64_t>(outcome.value));
}

template <class T>
std::string describe(const Result<T>& result) {
    if (!result) return std::string(result.error().kind == ErrorKind::value_error ? "" : "(not ValueError) ") +
                        "error \"" + result.error().message + "\"";
    return std::is_signed_v<T> ? std::to_string(*result) : hex(static_cast<std::uint64_t>(*result));
}

template <class T>
bool same(const Result<T>& got, const Outcome<T>& expected) {
    if (got.ok() != expected.ok) return false;
    if (got.ok()) return *got == expected.value;
    return got.error().kind == ErrorKind::value_error && got.error().message == expected.message;
}

enum class Layout { packed, packed_signed, unpacked, zoned };
const Layout layouts[] = {Layout::packed, Layout::packed_signed, Layout::unpacked, Layout::zoned};
const char* const layout_names[] = {"packed", "packed signed", "unpacked", "zoned"};

bool is_signed_layout(Layout layout) { return layout == Layout::packed_signed || layout == Layout::zoned; }
bool is_packed(Layout layout) { return layout == Layout::packed || layout == Layout::packed_signed; }

// The decimal digits of |value|, most significant first; the empty string for zero, which
// needs no digit position at all.
std::string magnitude_digits(std::int64_t value) {
    std::string digits = value < 0 ? std::to_string(value).substr(1) : std::to_string(value);
    return digits == "0" ? std::string() : digits;
}

std::string too_many(std::int64_t value, std::uint64_t count) {
    return "Value " + std::to_string(value) + " has too many digits for " + std::to_string(count) + " BCD digits";
}

std::string two_hex(std::uint64_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(byte));
    return text;
}

Outcome<std::uint64_t> reference_encode(Layout layout, std::int64_t value, std::uint32_t bits) {
    const bool packed = is_packed(layout);
    const bool is_signed = is_signed_layout(layout);
    if (packed && bits < 4) return failure<std::uint64_t>("bits must be >= 4 for packed BCD");
    if (!packed && bits < 8) return failure<std::uint64_t>("bits must be >= 8 for unpacked BCD");
    if (value < 0 && !is_signed) return failure<std::uint64_t>("Cannot encode negative value in unsigned BCD");
    const std::uint64_t positions = packed ? bits / 4 : bits / 8;
    if (layout == Layout::zoned && positions > 8) {
        return failure<std::uint64_t>("bits must be <= 64 for signed unpacked BCD");
    }
    // Digit positions that exist in the field and in the 64-bit pattern.
    const std::uint64_t in_field = layout == Layout::packed_signed ? positions - 1 : positions;
    const std::uint64_t in_pattern = layout == Layout::packed ? 16 : layout == Layout::packed_signed ? 15 : 8;
    const std::uint64_t room = in_field < in_pattern ? in_field : in_pattern;
    const std::string digits = magnitude_digits(value);
    if (digits.size() > room) return failure<std::uint64_t>(too_many(value, room));
    std::uint64_t pattern = 0;
    // Build the pattern from the most significant position down, as text would be read.
    const std::uint64_t used = layout == Layout::zoned ? positions : room;
    for (std::uint64_t position = used; position-- > 0;) {
        const std::uint64_t from_right = position;
        const std::uint64_t digit =
            from_right < digits.size() ? static_cast<std::uint64_t>(digits[digits.size() - 1 - from_right] - '0') : 0;
        switch (layout) {
            case Layout::packed: pattern = pattern * 16 + digit; break;
            case Layout::packed_signed: pattern = pattern * 16 + digit; break;
            case Layout::unpacked: pattern = pattern * 256 + digit; break;
            case Layout::zoned: pattern = pattern * 256 + (position == 0 ? (value < 0 ? 0xD0 : 0xC0) : 0xF0) + digit; break;
        }
    }
    if (layout == Layout::packed_signed) pattern = pattern * 16 + (value < 0 ? 0xD : 0xC);
    return success(pattern);
}

Outcome<std::int64_t> reference_decode(Layout layout, std::uint64_t value, std::uint32_t bits) {
    const bool packed = is_packed(layout);
    const std::uint64_t positions = packed ? bits / 4 : bits / 8;
    const std::uint64_t unit = packed ? 4 : 8;
    auto position_value = [&](std::uint64_t i) -> std::uint64_t {
        if (unit * i >= 64) return 0;  // beyond the pattern
        return (value >> (unit * i)) & (packed ? 0xF : 0xFF);
    };
    // Only positions inside the pattern can hold anything but zero, and the first zero one
    // beyond it is enough to decide (it is a zero digit, or an invalid zoned byte).
    const std::uint64_t examined = positions < 64 / unit + 1 ? positions : 64 / unit + 1;
    std::string digits;  // most significant first
    bool negative = false;
    std::uint64_t first = 0;
    if (positions == 0) return success<std::int64_t>(0);
    if (layout == Layout::packed_signed) {
        const std::uint64_t sign = position_value(0);
        if (sign < 0xA) return failure<std::int64_t>("Invalid BCD sign nibble: expected 0xA-0xF for signed packed BCD");
        negative = sign == 0xB || sign == 0xD;
        first = 1;
    }
    if (layout == Layout::zoned) {
        const std::uint64_t byte = position_value(0);
        const std::uint64_t zone = byte >> 4;
        if ((byte & 0xF) > 9 || (zone != 0xC && zone != 0xD && zone != 0xF && zone != 0x3)) {
            return failure<std::int64_t>("Invalid zoned decimal signed byte: 0x" + two_hex(byte) +
                                         " (expected 0x30-0x39, 0xC0-0xC9, 0xD0-0xD9, or 0xF0-0xF9)");
        }
        negative = zone == 0xD;
        digits.insert(digits.begin(), static_cast<char>('0' + (byte & 0xF)));
        first = 1;
    }
    for (std::uint64_t i = first; i < examined; ++i) {
        const std::uint64_t v = position_value(i);
        if (layout == Layout::zoned) {
            if ((v >> 4 != 0x3 && v >> 4 != 0xF) || (v & 0xF) > 9) {
                return failure<std::int64_t>("Invalid zoned decimal byte: 0x" + two_hex(v) +
                                             " (expected ASCII 0x30-0x39 or EBCDIC 0xF0-0xF9)");
            }
            digits.insert(digits.begin(), static_cast<char>('0' + (v & 0xF)));
        } else {
            if (v > 9) return failure<std::int64_t>("Invalid BCD digit: " + std::to_string(v) + " (must be 0-9)");
            digits.insert(digits.begin(), static_cast<char>('0' + v));
        }
    }
    const std::int64_t magnitude = digits.empty() ? 0 : std::stoll(digits);
    return success<std::int64_t>(negative ? -magnitude : magnitude);
}

Result<std::uint64_t> encode(Layout layout, std::int64_t value, std::uint32_t bits) {
    return is_packed(layout) ? encode_packed_bcd(value, bits, is_signed_layout(layout))
                             : encode_unpacked_bcd(value, bits, is_signed_layout(layout));
}

Result<std::int64_t> decode(Layout layout, std::uint64_t value, std::uint32_t bits) {
    return is_packed(layout) ? decode_packed_bcd(value, bits, is_signed_layout(layout))
                             : decode_unpacked_bcd(value, bits, is_signed_layout(layout));
}

const std::uint32_t widths[] = {0,  1,  3,  4,  5,  7,  8,  9,  11, 12, 15,  16,  17,  20,   23,     24,
                                31, 32, 36, 40, 47, 48, 56, 60, 61, 63, 64,  65,  68,  71,   72,     76,
                                80, 96, 99, 127, 128, 129, 1000, 65535, 65536, 2147483647U, 2147483648U,
                                4294967292U, 4294967295U};

std::vector<std::int64_t> sample_values() {
    std::vector<std::int64_t> values = {0, 1, -1, 9, -9, 10, -10, 99, 100, INT64_MAX, INT64_MIN, INT64_MIN + 1,
                                        INT64_MAX - 1};
    std::int64_t power = 1;
    for (int digits = 1; digits <= 18; ++digits) {
        power *= 10;
        for (const std::int64_t v : {power - 1, power, power + 1, power / 2, power / 10 * 9}) {
            values.push_back(v);
            values.push_back(-v);
        }
    }
    check::Random random(0xC0FFEE1234567ULL);
    for (int i = 0; i < 3000; ++i) {
        // Random digit counts, so that every length is as common as any other.
        const std::uint64_t digits = random() % 19 + 1;
        std::uint64_t magnitude = 0;
        for (std::uint64_t d = 0; d < digits; ++d) magnitude = magnitude * 10 + random() % 10;
        const auto v = static_cast<std::int64_t>(magnitude);
        values.push_back(random() % 2 == 0 ? v : -v);
    }
    return values;
}

void check_encoding_round_trips() {
    const std::vector<std::int64_t> values = sample_values();
    for (int l = 0; l < 4; ++l) {
        const Layout layout = layouts[l];
        for (const std::uint32_t bits : widths) {
            for (const std::int64_t value : values) {
                const Outcome<std::uint64_t> expected = reference_encode(layout, value, bits);
                const Result<std::uint64_t> got = encode(layout, value, bits);
                if (!same(got, expected)) {
                    check::fail(std::string("encode ") + layout_names[l] + " " + std::to_string(value) + " in " +
                           std::to_string(bits) + " bits: " + describe(got) + ", expected " + describe(expected));
                    continue;
                }
                if (!got) continue;
                const Result<std::int64_t> back = decode(layout, *got, bits);
                if (!back || *back != value) {
                    check::fail(std::string("decode(encode) ") + layout_names[l] + " " + std::to_string(value) + " in " +
                           std::to_string(bits) + " bits: " + describe(back));
                }
            }
        }
    }
}

void check_decoding() {
    std::vector<std::uint64_t> patterns = {0, ~0ULL, 0x9999999999999999ULL, 0x999999999999999DULL,
                                           0xF9F9F9F9F9F9F9D9ULL, 0x0909090909090909ULL, 0x3939393939393939ULL,
                                           0x1234567890123456ULL, 0xC, 0xD, 0xB, 0xA, 0xE, 0xF, 0x9};
    // Mostly well-formed patterns with noise above a random position, for each layout.
    check::Random random(0x5EED5EED5EEDULL);
    for (int i = 0; i < 4000; ++i) {
        std::uint64_t pattern = 0;
        const std::uint64_t kind = random() % 4;
        for (int position = 0; position < 16; ++position) {
            const std::uint64_t digit = random() % 10;
            if (kind < 2) pattern |= digit << (4 * position);
            else if (position < 8) pattern |= (digit | (kind == 2 ? 0x00 : 0xF0)) << (8 * position);
        }
        if (kind == 1) pattern = (pattern & ~0xFULL) | (0xA + random() % 6);  // a sign nibble
        if (kind == 3) pattern = (pattern & ~0xF0ULL) | (0xC0 + 0x10 * (random() % 2));  // a sign zone
        // Occasionally break one position.
        if (random() % 3 == 0) pattern ^= std::uint64_t{0xF0} << (4 * (random() % 15));
        patterns.push_back(pattern);
        patterns.push_back(random());
    }
    for (int l = 0; l < 4; ++l) {
        for (const std::uint32_t bits : widths) {
            for (const std::uint64_t pattern : patterns) {
                const Outcome<std::int64_t> expected = reference_decode(layouts[l], pattern, bits);
                const Result<std::int64_t> got = decode(layouts[l], pattern, bits);
                if (!same(got, expected)) {
                    check::fail(std::string("decode ") + layout_names[l] + " " + hex(pattern) + " in " +
                           std::to_string(bits) + " bits: " + describe(got) + ", expected " + describe(expected));
                }
            }
        }
    }
    // Every 16-bit pattern at the widths that read all of it, part of it, or none.
    for (int l = 0; l < 4; ++l) {
        for (const std::uint32_t bits : {0U, 4U, 8U, 12U, 15U, 16U, 64U, 4294967295U}) {
            for (std::uint64_t pattern = 0; pattern <= 0xFFFF; ++pattern) {
                const Outcome<std::int64_t> expected = reference_decode(layouts[l], pattern, bits);
                const Result<std::int64_t> got = decode(layouts[l], pattern, bits);
                if (!same(got, expected)) {
                    check::fail(std::string("decode ") + layout_names[l] + " " + hex(pattern) + " in " +
                           std::to_string(bits) + " bits: " + describe(got) + ", expected " + describe(expected));
                }
            }
        }
    }
}

// The documented examples, with their exact results and messages.
void check_examples() {
    const std::string digit10 = "Invalid BCD digit: 10 (must be 0-9)";
    const std::string sign_nibble = "Invalid BCD sign nibble: expected 0xA-0xF for signed packed BCD";
    const struct {
        bool packed;
        std::uint64_t value;
        std::uint32_t bits;
        bool is_signed;
        Outcome<std::int64_t> expected;
    } decodes[] = {
        {true, 0x1234, 16, false, success<std::int64_t>(1234)},
        {true, 0x123, 8, false, success<std::int64_t>(23)},
        {true, 0x1A, 8, false, failure<std::int64_t>(digit10)},
        {true, 0xFF, 3, false, success<std::int64_t>(0)},
        {true, 0x123D, 16, true, success<std::int64_t>(-123)},
        {true, 0x123F, 16, true, success<std::int64_t>(123)},
        {true, 0x12B, 12, true, success<std::int64_t>(-12)},
        {true, 0x1239, 16, true, failure<std::int64_t>(sign_nibble)},
        {true, 0xC, 4, true, success<std::int64_t>(0)},
        {false, 0x010203, 24, false, success<std::int64_t>(123)},
        {false, 0x313233, 24, false, failure<std::int64_t>("Invalid BCD digit: 51 (must be 0-9)")},
        {false, 0xF1F2D3, 24, true, success<std::int64_t>(-123)},
        {false, 0x313233, 24, true, success<std::int64_t>(123)},
        {false, 0xF1F2A3, 24, true,
         failure<std::int64_t>(
             "Invalid zoned decimal signed byte: 0xA3 (expected 0x30-0x39, 0xC0-0xC9, 0xD0-0xD9, or 0xF0-0xF9)")},
        {false, 0xC1F2C3, 24, true,
         failure<std::int64_t>("Invalid zoned decimal byte: 0xC1 (expected ASCII 0x30-0x39 or EBCDIC 0xF0-0xF9)")},
        {false, 0xF9F9F9F9F9F9F9C9, 72, true,
         failure<std::int64_t>("Invalid zoned decimal byte: 0x00 (expected ASCII 0x30-0x39 or EBCDIC 0xF0-0xF9)")},
        {false, 0x05, 8, true,
         failure<std::int64_t>(
             "Invalid zoned decimal signed byte: 0x05 (expected 0x30-0x39, 0xC0-0xC9, 0xD0-0xD9, or 0xF0-0xF9)")},
    };
    for (const auto& d : decodes) {
        const Result<std::int64_t> got =
            d.packed ? decode_packed_bcd(d.value, d.bits, d.is_signed) : decode_unpacked_bcd(d.value, d.bits, d.is_signed);
        if (!same(got, d.expected)) {
            check::fail("example decode " + hex(d.value) + " in " + std::to_string(d.bits) + ": " + describe(got) +
                   ", expected " + describe(d.expected));
        }
    }
    const struct {
        bool packed;
        std::int64_t value;
        std::uint32_t bits;
        bool is_signed;
        Outcome<std::uint64_t> expected;
    } encodes[] = {
        {true, 1234, 16, false, success<std::uint64_t>(0x1234)},
        {true, 123, 16, true, success<std::uint64_t>(0x123C)},
        {true, -123, 16, true, success<std::uint64_t>(0x123D)},
        {true, 0, 4, true, success<std::uint64_t>(0xC)},
        {true, 5, 4, true, failure<std::uint64_t>(too_many(5, 0))},
        {true, 12345, 16, false, failure<std::uint64_t>(too_many(12345, 4))},
        {true, 1234, 16, true, failure<std::uint64_t>(too_many(1234, 3))},
        {true, -12345, 16, true, failure<std::uint64_t>(too_many(-12345, 3))},
        {true, -5, 8, false, failure<std::uint64_t>("Cannot encode negative value in unsigned BCD")},
        {true, -5, 3, false, failure<std::uint64_t>("bits must be >= 4 for packed BCD")},
        {true, INT64_MIN, 64, true, failure<std::uint64_t>("Value -9223372036854775808 has too many digits for 15 BCD digits")},
        {true, INT64_MIN, 4294967295U, true, failure<std::uint64_t>(too_many(INT64_MIN, 15))},
        {true, INT64_MAX, 4294967295U, false, failure<std::uint64_t>(too_many(INT64_MAX, 16))},
        {true, 9999999999999999, 4294967295U, false, success<std::uint64_t>(0x9999999999999999ULL)},
        {false, 123, 24, false, success<std::uint64_t>(0x010203)},
        {false, -123, 24, false, failure<std::uint64_t>("Cannot encode negative value in unsigned BCD")},
        {false, -123, 7, false, failure<std::uint64_t>("bits must be >= 8 for unpacked BCD")},
        {false, 123, 24, true, success<std::uint64_t>(0xF1F2C3)},
        {false, -123, 24, true, success<std::uint64_t>(0xF1F2D3)},
        {false, -7, 8, true, success<std::uint64_t>(0xD7)},
        {false, 1234, 24, false, failure<std::uint64_t>(too_many(1234, 3))},
        {false, 5, 7, false, failure<std::uint64_t>("bits must be >= 8 for unpacked BCD")},
        {false, 0, 72, true, failure<std::uint64_t>("bits must be <= 64 for signed unpacked BCD")},
        {false, 1, 71, true, success<std::uint64_t>(0xF0F0F0F0F0F0F0C1ULL)},
        {false, 100000000, 4294967295U, false, failure<std::uint64_t>(too_many(100000000, 8))},
    };
    for (const auto& e : encodes) {
        const Result<std::uint64_t> got =
            e.packed ? encode_packed_bcd(e.value, e.bits, e.is_signed) : encode_unpacked_bcd(e.value, e.bits, e.is_signed);
        if (!same(got, e.expected)) {
            check::fail("example encode " + std::to_string(e.value) + " in " + std::to_string(e.bits) + ": " +
                   describe(got) + ", expected " + describe(e.expected));
        }
    }
}

}  // namespace

int main() {
    check_examples();
    check_encoding_round_trips();
    check_decoding();
    return check::verdict();
}
