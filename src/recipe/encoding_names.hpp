// The vocabulary of encoding names that recipe entries may use.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace telbit {

enum class Encoding : std::uint8_t {
    utf8,
    utf16,
    utf32,
    ti_f32,
    ti_f40,
    latin1,
    dec_f32,
    dec_f64,
    ibm_f32,
    ibm_f64,
    utf16le,
    utf16be,
    utf32le,
    utf32be,
    unsigned_integer,
    us_ascii,
    packed_bcd,
    iso_8859_1,
    ieee754_f16,
    ieee754_f32,
    ieee754_f64,
    unpacked_bcd,
    ieee754_f128,
    windows_1252,
    sign_magnitude,
    ones_complement,
    twos_complement,
    ieee754_1985_f32,
    ieee754_1985_f64,
    ieee754_1985_f80,
    packed_bcd_signed,
    mil_std_1750a_f32,
    mil_std_1750a_f48,
    unpacked_bcd_signed,
};

struct EncodingName {
    std::string_view name;
    Encoding encoding;
    bool packable;  // known to packing as well as to unpacking
};

// The longest accepted name; a lower-cased name longer than this matches nothing.
inline constexpr std::size_t longest_encoding_name = 19;

// The encoding an already lower-cased name selects, if any.
[[nodiscard]] std::optional<Encoding> find_encoding(std::string_view lowered) noexcept;
[[nodiscard]] bool is_packable(Encoding encoding) noexcept;

// Whether the encoding is one of the character-string encodings (handed the field's bytes
// rather than an integer pattern).
[[nodiscard]] constexpr bool is_text_encoding(Encoding encoding) noexcept {
    switch (encoding) {
        case Encoding::utf8:
        case Encoding::utf16:
        case Encoding::utf32:
        case Encoding::utf16le:
        case Encoding::utf16be:
        case Encoding::utf32le:
        case Encoding::utf32be:
        case Encoding::us_ascii:
        case Encoding::latin1:
        case Encoding::iso_8859_1:
        case Encoding::windows_1252: return true;
        default: return false;
    }
}

}  // namespace telbit
