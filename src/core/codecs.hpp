// The table of encodings: one row per encoding name a recipe may use, carrying everything the
// layers above need to know of it. What one encoding does is written here and nowhere else.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/bcd.hpp"
#include "core/charsets.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/reserved.hpp"
#include "core/result.hpp"
#include "core/text.hpp"
#include "core/unicode.hpp"

namespace telbit {

enum class Family : std::uint8_t { integer, decimal, floating, reserved, text };

// The value a field holds on the Python side, and how a number travels to and from the
// conversions: as a 64-bit word laid out by the kind, which is also an element of an array.
enum class ValueKind : std::uint8_t {
    none,              // nothing converts: the encoding is not decoded, or not encoded
    unsigned_integer,  // an int in 0..2^64-1; the word is the value
    signed_integer,    // an int in -2^63..2^63-1; the word is its two's complement
    binary64,          // a float; the word is its binary64 pattern
    binary32,          // a float rounded to binary32; the word is the binary32 pattern
    text,              // a str
};

// A numeric field's pattern to the word of its value; these cannot fail.
using PlainDecoder = std::uint64_t (*)(std::uint64_t pattern, std::uint32_t bits) noexcept;
// The same for encodings that refuse some patterns.
using CheckedDecoder = Result<std::uint64_t> (*)(std::uint64_t pattern, std::uint32_t bits);
// A text field's bytes, in field order, to its characters.
using TextDecoder = Result<DecodedText> (*)(ByteSpan bytes);
// A value's word to the pattern of a field of `bits` bits.
using NumberEncoder = Result<std::uint64_t> (*)(std::uint64_t word, std::uint32_t bits);
// A text, as UTF-8, to the bytes of its field.
using TextEncoder = Result<EncodedText> (*)(std::string_view utf8);
// The error every field of an encoding that is named but not converted gets.
using Refusal = Error (*)(std::string_view label, std::uint32_t bits);

struct Codec {
    std::string_view name;   // as a recipe writes it, lower case
    Family family;
    ValueKind gives;  // what decoding gives
    ValueKind takes;  // what encoding takes; none where packing does not know the name
    // Exactly one way to decode: integers and most floats cannot fail, decimals may refuse a
    // pattern, text, or a refusal of every field.
    PlainDecoder decode = nullptr;
    CheckedDecoder decode_checked = nullptr;
    TextDecoder decode_text = nullptr;
    Refusal refuse = nullptr;
    // At most one way to encode.
    NumberEncoder encode_number = nullptr;
    TextEncoder encode_text = nullptr;
    std::string_view label = {};  // how error texts name a format that is not converted

    [[nodiscard]] constexpr bool is_text() const noexcept { return family == Family::text; }
    [[nodiscard]] constexpr bool packable() const noexcept { return encode_number != nullptr || encode_text != nullptr; }
};

namespace codec_rows {

// The signed kind's word is the two's complement of the value; both conversions are modular.
constexpr std::uint64_t word_of(std::int64_t value) noexcept { return static_cast<std::uint64_t>(value); }
constexpr std::int64_t signed_of(std::uint64_t word) noexcept { return static_cast<std::int64_t>(word); }
inline Result<std::uint64_t> word_of(const Result<std::int64_t>& value) {
    if (!value) return value.error();
    return word_of(*value);
}
inline float binary32_of(std::uint64_t word) noexcept { return std::bit_cast<float>(static_cast<std::uint32_t>(word)); }

inline Result<EncodedText> made(std::string bytes) { return EncodedText::of(std::move(bytes)); }
inline Result<EncodedText> made(Result<std::string> bytes) {
    if (!bytes) return std::move(bytes).error();
    return EncodedText::of(std::move(*bytes));
}

inline Error not_converted(std::string_view label, std::uint32_t) { return reserved_decode_error(label); }

using VK = ValueKind;
using F = Family;
using Word = std::uint64_t;
using Bits = std::uint32_t;

constexpr Codec reserved(std::string_view name, std::string_view label) {
    return {.name = name, .family = F::reserved, .gives = VK::none, .takes = VK::none, .refuse = not_converted,
            .label = label};
}

inline Result<DecodedText> decode_latin1(ByteSpan bytes) { return decode_iso_8859_1(bytes); }
inline Result<EncodedText> encode_latin1(std::string_view text) { return made(encode_iso_8859_1(text)); }
constexpr Codec latin1(std::string_view name) {
    return {.name = name, .family = F::text, .gives = VK::text, .takes = VK::text, .decode_text = decode_latin1,
            .encode_text = encode_latin1};
}

// In the order of the encodings: integers, decimals, floats, reserved formats, text. (The
// conversions are lambdas at namespace scope, so that a function's row can name one as a
// template argument.)
inline constexpr std::array<Codec, 34> table = {{
        {.name = "unsigned", .family = F::integer, .gives = VK::unsigned_integer, .takes = VK::unsigned_integer,
         .decode = [](Word p, Bits) noexcept { return p; },
         .encode_number = [](Word v, Bits bits) -> Result<Word> {
             if (Status status = check_unsigned_range(v, bits); !status) return std::move(status).error();
             return v;
         }},
        {.name = "twos_complement", .family = F::integer, .gives = VK::signed_integer, .takes = VK::signed_integer,
         .decode = [](Word p, Bits bits) noexcept { return word_of(decode_twos_complement(p, bits)); },
         .encode_number = [](Word v, Bits bits) { return encode_twos_complement(signed_of(v), bits); }},
        {.name = "ones_complement", .family = F::integer, .gives = VK::signed_integer, .takes = VK::signed_integer,
         .decode = [](Word p, Bits bits) noexcept { return word_of(decode_ones_complement(p, bits)); },
         .encode_number = [](Word v, Bits bits) { return encode_ones_complement(signed_of(v), bits); }},
        {.name = "sign_magnitude", .family = F::integer, .gives = VK::signed_integer, .takes = VK::signed_integer,
         .decode = [](Word p, Bits bits) noexcept { return word_of(decode_sign_magnitude(p, bits)); },
         .encode_number = [](Word v, Bits bits) { return encode_sign_magnitude(signed_of(v), bits); }},

        {.name = "packed_bcd", .family = F::decimal, .gives = VK::signed_integer, .takes = VK::signed_integer,
         .decode_checked = [](Word p, Bits bits) { return word_of(decode_packed_bcd(p, bits, false)); },
         .encode_number = [](Word v, Bits bits) { return encode_packed_bcd(signed_of(v), bits, false); }},
        {.name = "packed_bcd_signed", .family = F::decimal, .gives = VK::signed_integer, .takes = VK::signed_integer,
         .decode_checked = [](Word p, Bits bits) { return word_of(decode_packed_bcd(p, bits, true)); },
         .encode_number = [](Word v, Bits bits) { return encode_packed_bcd(signed_of(v), bits, true); }},
        {.name = "unpacked_bcd", .family = F::decimal, .gives = VK::signed_integer, .takes = VK::signed_integer,
         .decode_checked = [](Word p, Bits bits) { return word_of(decode_unpacked_bcd(p, bits, false)); },
         .encode_number = [](Word v, Bits bits) { return encode_unpacked_bcd(signed_of(v), bits, false); }},
        {.name = "unpacked_bcd_signed", .family = F::decimal, .gives = VK::signed_integer, .takes = VK::signed_integer,
         .decode_checked = [](Word p, Bits bits) { return word_of(decode_unpacked_bcd(p, bits, true)); },
         .encode_number = [](Word v, Bits bits) { return encode_unpacked_bcd(signed_of(v), bits, true); }},

        {.name = "ieee754_f16", .family = F::floating, .gives = VK::binary64, .takes = VK::binary32,
         .decode = [](Word p, Bits) noexcept { return std::bit_cast<Word>(decode_ieee754_f16(p)); },
         .encode_number = [](Word v, Bits) -> Result<Word> { return encode_ieee754_f16(binary32_of(v)); }},
        {.name = "ieee754_f32", .family = F::floating, .gives = VK::binary64, .takes = VK::binary32,
         .decode = [](Word p, Bits) noexcept { return std::bit_cast<Word>(decode_ieee754_f32(p)); },
         .encode_number = [](Word v, Bits) -> Result<Word> { return v; }},
        {.name = "ieee754_f64", .family = F::floating, .gives = VK::binary64, .takes = VK::binary64,
         .decode = [](Word p, Bits) noexcept { return p; },
         .encode_number = [](Word v, Bits) -> Result<Word> { return v; }},
        // A field's pattern holds at most 64 of binary128's bits, so a field of this format
        // has no value to give; 0.0 would be a silent wrong answer.
        {.name = "ieee754_f128", .family = F::floating, .gives = VK::binary64, .takes = VK::none,
         .refuse = [](std::string_view, Bits bits) {
             if (bits > 64) {
                 return value_error(
                     "IEEE 754 f128 requires special handling for >64 bits (not yet implemented in process_recipe)");
             }
             return value_error("IEEE 754 f128 requires a 128-bit field, got " + std::to_string(bits) + " bits");
         },
         .label = "IEEE 754 f128"},

        reserved("ieee754_1985_f32", "IEEE 754-1985 f32"),
        reserved("ieee754_1985_f64", "IEEE 754-1985 f64"),
        reserved("ieee754_1985_f80", "IEEE 754-1985 f80"),
        reserved("mil_std_1750a_f32", "MIL-STD-1750A f32"),
        reserved("mil_std_1750a_f48", "MIL-STD-1750A f48"),
        reserved("dec_f32", "DEC f32"),
        reserved("dec_f64", "DEC f64"),
        reserved("ibm_f32", "IBM f32"),
        reserved("ibm_f64", "IBM f64"),
        reserved("ti_f32", "TI f32"),
        reserved("ti_f40", "TI f40"),

        {.name = "utf8", .family = F::text, .gives = VK::text, .takes = VK::text, .decode_text = decode_utf8,
         .encode_text = [](std::string_view t) -> Result<EncodedText> { return EncodedText::same_as(t); }},
        {.name = "utf16", .family = F::text, .gives = VK::text, .takes = VK::text, .decode_text = decode_utf16,
         .encode_text = [](std::string_view t) { return made(encode_utf16(t)); }},
        {.name = "utf16le", .family = F::text, .gives = VK::text, .takes = VK::text,
         .decode_text = [](ByteSpan b) { return decode_utf16_with_endianness(b, true); },
         .encode_text = [](std::string_view t) { return made(encode_utf16le(t)); }},
        {.name = "utf16be", .family = F::text, .gives = VK::text, .takes = VK::text,
         .decode_text = [](ByteSpan b) { return decode_utf16_with_endianness(b, false); },
         .encode_text = [](std::string_view t) { return made(encode_utf16be(t)); }},
        {.name = "utf32", .family = F::text, .gives = VK::text, .takes = VK::text, .decode_text = decode_utf32,
         .encode_text = [](std::string_view t) { return made(encode_utf32(t)); }},
        {.name = "utf32le", .family = F::text, .gives = VK::text, .takes = VK::text,
         .decode_text = [](ByteSpan b) { return decode_utf32_with_endianness(b, true); },
         .encode_text = [](std::string_view t) { return made(encode_utf32le(t)); }},
        {.name = "utf32be", .family = F::text, .gives = VK::text, .takes = VK::text,
         .decode_text = [](ByteSpan b) { return decode_utf32_with_endianness(b, false); },
         .encode_text = [](std::string_view t) { return made(encode_utf32be(t)); }},
        {.name = "us_ascii", .family = F::text, .gives = VK::text, .takes = VK::text, .decode_text = decode_us_ascii,
         .encode_text = [](std::string_view t) { return made(encode_us_ascii(t)); }},
        latin1("latin1"),  // another name for ISO-8859-1
        latin1("iso_8859_1"),
        {.name = "windows_1252", .family = F::text, .gives = VK::text, .takes = VK::text,
         .decode_text = decode_windows_1252, .encode_text = [](std::string_view t) { return made(encode_windows_1252(t)); }},
}};

}  // namespace codec_rows

inline constexpr const std::array<Codec, 34>& codecs = codec_rows::table;

// The row that a lower-cased encoding name selects; null for a name outside the vocabulary.
[[nodiscard]] const Codec* find_codec(std::string_view lowered) noexcept;

// The longest name; a lower-cased name longer than this matches nothing.
inline constexpr std::size_t longest_codec_name = [] {
    std::size_t longest = 0;
    for (const Codec& codec : codecs) longest = codec.name.size() > longest ? codec.name.size() : longest;
    return longest;
}();

// The row of a name known when the code is written (for the stand-alone functions).
[[nodiscard]] consteval std::size_t codec_index(std::string_view name) {
    for (std::size_t i = 0; i < codecs.size(); ++i) {
        if (codecs[i].name == name) return i;
    }
    throw "no such encoding";  // not a constant expression: a misspelt name does not compile
}

}  // namespace telbit
