// Every decoder fed arbitrary patterns, widths and bytes: it must answer, never misbehave,
// and the answers must agree with the relations that hold between the decoders.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/bcd.hpp"
#include "core/bits.hpp"
#include "core/charsets.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/unicode.hpp"
#include "core/utf8.hpp"
#include "fuzz/input.hpp"
#include "tests/native/check.hpp"

using namespace telbit;
using check::characters;
using check::require;

namespace {

// A result keeps the promise of its form, and an error always says something.
void check_text(const Result<DecodedText>& text) {
    if (!text) {
        require(!text.error().message.empty(), "a decoder failed without saying why");
        return;
    }
    (void)characters(*text);
}

// Both results fail, or both succeed with the same characters.
void require_same(const Result<DecodedText>& a, const Result<DecodedText>& b) {
    require(static_cast<bool>(a) == static_cast<bool>(b), "one decoder accepts what the other refuses");
    if (a) require(characters(*a) == characters(*b), "the two decoders give different characters");
}

// The input with every group of `unit` bytes reversed; a trailing partial group stays put.
std::vector<std::uint8_t> swap_units(ByteSpan bytes, std::size_t unit) {
    std::vector<std::uint8_t> swapped(bytes.begin(), bytes.end());
    for (std::size_t i = 0; i + unit <= swapped.size(); i += unit) {
        std::reverse(swapped.begin() + static_cast<std::ptrdiff_t>(i),
                     swapped.begin() + static_cast<std::ptrdiff_t>(i + unit));
    }
    return swapped;
}

void integers(std::uint64_t pattern, std::uint32_t bits) {
    const std::int64_t twos = decode_twos_complement(pattern, bits);
    const std::int64_t ones = decode_ones_complement(pattern, bits);
    (void)decode_sign_magnitude(pattern, bits);
    if (bits >= 1 && bits <= 63) {
        // A pattern held to the field decodes into the field's range, in every encoding.
        const std::uint64_t field = pattern & low_mask(bits);
        const auto half = static_cast<std::int64_t>(power_of_two(bits - 1));
        const std::int64_t value = decode_twos_complement(field, bits);
        require(value >= -half && value < half, "two's complement of a held pattern outside the width's range");
        const std::int64_t ones_value = decode_ones_complement(field, bits);
        require(ones_value > -half && ones_value < half, "ones' complement of a held pattern outside the width's range");
        if (bits >= 2) {
            const std::int64_t magnitude = decode_sign_magnitude(field, bits);
            require(magnitude > -half && magnitude < half, "sign-magnitude of a held pattern outside the width's range");
        }
        // Bits above the field do not change the two's complement reading.
        require(value == twos || (pattern >> bits) != 0, "bits above the field change the two's complement reading");
    } else if (bits >= 64) {
        require(twos == static_cast<std::int64_t>(pattern), "a wide two's complement field is not the pattern itself");
        require(ones == static_cast<std::int64_t>(pattern) + (bit_set(pattern, 63) ? 1 : 0), "a wide ones' complement field is not the pattern plus its sign");
    }
    for (const bool is_signed : {false, true}) {
        if (Result<std::int64_t> r = decode_packed_bcd(pattern, bits, is_signed); !r) {
            require(!r.error().message.empty(), "packed BCD failed without saying why");
        }
        if (Result<std::int64_t> r = decode_unpacked_bcd(pattern, bits, is_signed); !r) {
            require(!r.error().message.empty(), "unpacked BCD failed without saying why");
        }
    }
}

void mirrors(std::uint64_t pattern, std::uint32_t bits) {
    const std::uint64_t mirrored = mirror_low_bits(pattern, bits);
    require(mirror_low_bits(mirrored, bits) == (pattern & low_mask(bits)), "a mirror does not undo itself");
    require(std::popcount(mirrored) == std::popcount(pattern & low_mask(bits)), "a mirror changes the number of set bits");
    if (bits <= 64) require(mirror_field_pattern(pattern, bits) == mirrored, "the field mirror differs from the plain mirror within 64 bits");
}

// The bytes packing writes for a field, cut to a destination of any length, in both orders.
void field_bytes(std::uint64_t pattern, std::uint32_t bits, bool reverse_bits, bool little, std::uint32_t cut) {
    const FieldBytes field = encode_integer_to_bytes(pattern, bits, reverse_bits);
    require(field.size == (std::uint64_t{bits} + 7) / 8, "the field bytes are not ceil(bits / 8)");
    require(field.window_size <= field.window.size() && field.window_offset + field.window_size <= field.size, "the field window lies outside the field");
    // Never more than a few pages, however wide the field: the check is on placement.
    const std::uint64_t length = std::min<std::uint64_t>(field.size, cut % 4096);
    std::vector<std::uint8_t> destination(length, 0xA5);
    store_field_bytes(field, little, destination);
    for (std::uint64_t k = 0; k < length; ++k) {
        require(destination[k] == field.at(little ? field.size - 1 - k : k), "a stored field byte is not where FieldBytes says");
    }
}

void texts(ByteSpan bytes) {
    const Result<DecodedText> utf8 = decode_utf8(bytes);
    check_text(utf8);
    require(static_cast<bool>(utf8) == scan_utf8(bytes).valid, "decode_utf8 accepts differently from scan_utf8");
    if (utf8) require(characters(*utf8).size() <= bytes.size(), "decode_utf8 gives more characters than bytes");

    const Result<DecodedText> ascii = decode_us_ascii(bytes);
    check_text(ascii);
    require(static_cast<bool>(ascii) == (first_non_ascii(bytes) == bytes.size()), "decode_us_ascii accepts differently from first_non_ascii");
    if (ascii) require_same(ascii, utf8);

    const DecodedText latin = decode_iso_8859_1(bytes);
    require(characters(latin) == std::u32string(bytes.begin(), bytes.end()), "ISO-8859-1 is not one character per byte");

    const Result<DecodedText> le16 = decode_utf16_with_endianness(bytes, true);
    const Result<DecodedText> be16 = decode_utf16_with_endianness(bytes, false);
    const Result<DecodedText> le32 = decode_utf32_with_endianness(bytes, true);
    const Result<DecodedText> be32 = decode_utf32_with_endianness(bytes, false);
    for (const auto* text : {&le16, &be16, &le32, &be32}) check_text(*text);
    // Little-endian input is big-endian input with each unit's bytes swapped.
    if (bytes.size() % 2 == 0) require_same(le16, decode_utf16_with_endianness(swap_units(bytes, 2), false));
    if (bytes.size() % 4 == 0) require_same(le32, decode_utf32_with_endianness(swap_units(bytes, 4), false));

    check_text(decode_utf16(bytes));
    check_text(decode_utf32(bytes));

    const Result<DecodedText> single = decode_windows_1252(bytes);
    check_text(single);
    const bool marked = (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) ||
                        (bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) ||
                                               (bytes[0] == 0xFE && bytes[1] == 0xFF)));
    // Without a byte order mark every byte string decodes, one character per byte.
    if (!marked) require(single && characters(*single).size() == bytes.size(), "windows-1252 without a mark is not one character per byte");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const auto pattern = input.take<std::uint64_t>();
    const std::uint32_t bits = fuzz::width_from(input.take<std::uint32_t>());
    const auto high = input.take<std::uint64_t>();
    const auto cut = input.take<std::uint32_t>();
    const ByteSpan bytes = input.rest();

    integers(pattern, bits);
    mirrors(pattern, bits);
    (void)decode_ieee754_f16(pattern);
    (void)decode_ieee754_f32(pattern);
    (void)decode_ieee754_f64(pattern);
    (void)decode_ieee754_f128(high, pattern);
    field_bytes(pattern, bits, (high & 1) != 0, (high & 2) != 0, cut);
    texts(bytes);
    return check::fuzz_verdict();
}
