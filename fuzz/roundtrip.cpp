// Encode then decode is the identity for every value an encoder accepts.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

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
using check::span_of;

namespace {

void integers(std::int64_t value, std::uint32_t bits) {
    if (Result<std::uint64_t> p = encode_twos_complement(value, bits); p && bits >= 1) {
        require(decode_twos_complement(*p, bits) == value, "two's complement does not round trip");
    }
    if (Result<std::uint64_t> p = encode_ones_complement(value, bits); p && bits >= 1) {
        require(decode_ones_complement(*p, bits) == value, "ones' complement does not round trip");
    }
    if (Result<std::uint64_t> p = encode_sign_magnitude(value, bits); p) {
        require(decode_sign_magnitude(*p, bits) == value, "sign-magnitude does not round trip");
    }
    for (const bool is_signed : {false, true}) {
        if (Result<std::uint64_t> p = encode_packed_bcd(value, bits, is_signed); p) {
            Result<std::int64_t> back = decode_packed_bcd(*p, bits, is_signed);
            require(back && *back == value, "packed BCD does not round trip");
        }
        if (Result<std::uint64_t> p = encode_unpacked_bcd(value, bits, is_signed); p) {
            Result<std::int64_t> back = decode_unpacked_bcd(*p, bits, is_signed);
            require(back && *back == value, "unpacked BCD does not round trip");
        }
    }
}

void floats(std::uint64_t pattern) {
    const auto half = static_cast<std::uint16_t>(pattern);
    const double widened = decode_ieee754_f16(half);
    const bool nan = std::isnan(widened);
    require(encode_ieee754_f16(static_cast<float>(widened)) == (nan ? (half | 0x200u) : half), "binary16 does not survive widening and narrowing");
    require(half::narrow_portable(half::widen_portable(half)) == (nan ? (half | 0x200u) : half), "the portable binary16 paths do not round trip");
    const auto single = static_cast<std::uint32_t>(pattern);
    const double wide = decode_ieee754_f32(single);
    if (!std::isnan(wide)) require(encode_ieee754_f32(round_to_binary32(wide)) == single, "binary32 does not round trip");
    require(encode_ieee754_f64(decode_ieee754_f64(pattern)) == pattern, "binary64 does not round trip");
    const float value = std::bit_cast<float>(single);
    if (half::hardware_available()) require(half::narrow_hardware(value) == half::narrow_portable(value), "the two binary16 narrowings differ");
}

// Bit `position` of a field's bytes read as one number (bit 0 is the last byte's lowest).
bool field_bit(const FieldBytes& field, std::uint64_t position) {
    return ((field.at(field.size - 1 - position / 8) >> (position % 8)) & 1U) != 0;
}

void bytes_of_patterns(std::uint64_t pattern, std::uint32_t bits, bool reverse) {
    // Reading the bytes back as the unpacking walk does gives the pattern back.
    const FieldBytes field = encode_integer_to_bytes(pattern, bits, reverse);
    require(field.size == (std::uint64_t{bits} + 7) / 8, "the field bytes are not ceil(bits / 8)");
    if (bits == 0) return;
    if (bits > 64) {
        // A wide field holds the pattern right-aligned, or mirrored across the whole width
        // (pattern bit i on field bit bits-1-i), and nothing else.
        int set = 0;
        for (std::uint64_t i = 0; i < 64; ++i) {
            const std::uint64_t position = reverse ? std::uint64_t{bits} - 1 - i : i;
            require(field_bit(field, position) == bit_set(pattern, i), "a wide field bit is not the pattern bit it should hold");
        }
        for (std::uint32_t w = 0; w < field.window_size; ++w) set += std::popcount(field.window[w]);
        require(set == std::popcount(pattern), "a wide field holds bits the pattern does not have");
        return;
    }
    std::uint64_t accumulator = 0;
    for (std::uint64_t k = 0; k < field.size; ++k) accumulator = (accumulator << 8) | field.at(k);
    const std::uint64_t back = reverse ? mirror_field_pattern(accumulator, bits) : accumulator & low_mask(bits);
    require(back == (pattern & low_mask(bits)), "the field bytes do not read back as the pattern");
}

void text(ByteSpan data) {
    if (!scan_utf8(data).valid) return;
    const std::string_view utf8(reinterpret_cast<const char*>(data.data()), data.size());
    Result<DecodedText> original = decode_utf8(data);
    require(static_cast<bool>(original), "decode_utf8 refuses what scan_utf8 accepts");
    const std::u32string expected = characters(*original);
    const auto same = [&](const std::string& encoded, Result<DecodedText> (*decode)(ByteSpan)) {
        Result<DecodedText> back = decode(span_of(encoded));
        require(back && characters(*back) == expected, "a marked Unicode form does not round trip");
    };
    same(encode_utf16(utf8), decode_utf16);
    same(encode_utf32(utf8), decode_utf32);
    Result<DecodedText> le16 = decode_utf16_with_endianness(span_of(encode_utf16le(utf8)), true);
    require(le16 && characters(*le16) == expected, "UTF-16LE does not round trip");
    Result<DecodedText> be16 = decode_utf16_with_endianness(span_of(encode_utf16be(utf8)), false);
    require(be16 && characters(*be16) == expected, "UTF-16BE does not round trip");
    Result<DecodedText> le32 = decode_utf32_with_endianness(span_of(encode_utf32le(utf8)), true);
    require(le32 && characters(*le32) == expected, "UTF-32LE does not round trip");
    Result<DecodedText> be32 = decode_utf32_with_endianness(span_of(encode_utf32be(utf8)), false);
    require(be32 && characters(*be32) == expected, "UTF-32BE does not round trip");
    // The marked forms begin with their big-endian mark.
    require(encode_utf16(utf8).rfind("\xFE\xFF", 0) == 0, "UTF-16 does not begin with its big-endian mark");
    require(encode_utf32(utf8).rfind(std::string("\x00\x00\xFE\xFF", 4), 0) == 0, "UTF-32 does not begin with its big-endian mark");
    if (Result<std::string> latin = encode_iso_8859_1(utf8)) require(characters(decode_iso_8859_1(span_of(*latin))) == expected, "ISO-8859-1 does not round trip");
    if (Result<std::string> ascii = encode_us_ascii(utf8)) {
        Result<DecodedText> back = decode_us_ascii(span_of(*ascii));
        require(back && characters(*back) == expected, "US-ASCII does not round trip");
    }
    if (Result<std::string> single = encode_windows_1252(utf8)) {
        const std::string& b = *single;
        const bool marked = b.rfind("\xEF\xBB\xBF", 0) == 0 || b.rfind("\xFF\xFE", 0) == 0 || b.rfind("\xFE\xFF", 0) == 0;
        if (!marked) {
            Result<DecodedText> back = decode_windows_1252(span_of(b));
            require(back && characters(*back) == expected, "windows-1252 does not round trip");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const auto value = input.take<std::int64_t>();
    const std::uint32_t bits = fuzz::width_from(input.take<std::uint32_t>());
    const auto flags = input.take<std::uint8_t>();
    integers(value, bits);
    // Small values exercise the BCD layouts far more often than random 64-bit ones.
    integers(value % 100000, bits);
    floats(static_cast<std::uint64_t>(value));
    bytes_of_patterns(static_cast<std::uint64_t>(value), bits, (flags & 1) != 0);
    text(input.rest());
    return check::fuzz_verdict();
}
