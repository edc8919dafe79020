// Single-byte character sets: US-ASCII, ISO-8859-1 and WHATWG windows-1252.
#include "core/charsets.hpp"

#include <array>
#include <string>

#include "core/format.hpp"
#include "core/unicode.hpp"
#include "core/utf8.hpp"

namespace telbit {
namespace {

// The WHATWG index windows-1252 for bytes 80..9F (pointers 0..31); pointers 32..127 are
// U+00A0..U+00FF. The five undefined bytes map to the C1 controls of the same number.
constexpr std::array<char16_t, 32> windows_1252_high = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// "Character '{char}' (U+{code}) is not valid {set}", {char} being the character itself.
Error invalid_character(std::string_view utf8, std::size_t start, std::size_t length, char32_t code_point,
                        const char* set) {
    std::string message = "Character '";
    message += utf8.substr(start, length);
    message += "' (U+" + upper_hex(code_point, 4) + ") is not valid ";
    message += set;
    return value_error(std::move(message));
}

// Each character of `utf8` at or below `limit` becomes one byte; the first above fails.
Result<std::string> encode_single_byte(std::string_view utf8, char32_t limit, const char* set) {
    std::string out;
    out.reserve(utf8.size());
    Utf8Reader reader(utf8);
    std::size_t length = 0;
    while (!reader.done()) {
        const std::size_t start = reader.position();
        const char32_t code_point = reader.next(length);
        if (code_point > limit) return invalid_character(utf8, start, length, code_point, set);
        out.push_back(static_cast<char>(code_point));
    }
    return out;
}

Error windows_1252_decode_failure() { return value_error("Failed to decode Windows-1252 bytes"); }

}  // namespace

Result<DecodedText> decode_us_ascii(ByteSpan data) {
    const std::size_t offender = first_non_ascii(data);
    if (offender < data.size()) {
        return value_error("Invalid US-ASCII byte: 0x" + hex_byte(data[offender]) + " (must be <= 0x7F)");
    }
    return DecodedText::view(TextForm::ascii, data);
}

DecodedText decode_iso_8859_1(ByteSpan data) noexcept { return DecodedText::view(TextForm::latin1, data); }

Result<DecodedText> decode_windows_1252(ByteSpan data) {
    // A byte order mark switches to the encoding it names, as a browser would.
    if (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        Result<DecodedText> text = decode_utf8(data.subspan(3));
        if (!text) return windows_1252_decode_failure();
        return text;
    }
    if (data.size() >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
        Result<DecodedText> text = decode_utf16_with_endianness(data.subspan(2), data[0] == 0xFF);
        if (!text) return windows_1252_decode_failure();
        return text;
    }
    bool needs_table = false;
    for (const std::uint8_t byte : data) {
        if (byte >= 0x80 && byte <= 0x9F) {
            needs_table = true;
            break;
        }
    }
    if (!needs_table) return DecodedText::view(TextForm::latin1, data);
    CodePoints text;
    text.reserve(data.size());
    for (const std::uint8_t byte : data) {
        text.push_back(byte >= 0x80 && byte <= 0x9F ? windows_1252_high[byte - 0x80] : char32_t{byte});
    }
    return DecodedText::characters(std::move(text));
}

Result<std::string> encode_us_ascii(std::string_view utf8) { return encode_single_byte(utf8, 0x7F, "US-ASCII"); }

Result<std::string> encode_iso_8859_1(std::string_view utf8) {
    return encode_single_byte(utf8, 0xFF, "ISO-8859-1");
}

Result<std::string> encode_windows_1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    Utf8Reader reader(utf8);
    std::size_t length = 0;
    while (!reader.done()) {
        const char32_t code_point = reader.next(length);
        if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
            out.push_back(static_cast<char>(code_point));
            continue;
        }
        std::size_t pointer = 0;
        while (pointer < windows_1252_high.size() && windows_1252_high[pointer] != code_point) ++pointer;
        if (pointer == windows_1252_high.size()) return value_error("Failed to encode to Windows-1252");
        out.push_back(static_cast<char>(0x80 + pointer));
    }
    return out;
}

}  // namespace telbit
