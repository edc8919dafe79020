// Single-byte character sets: US-ASCII, ISO-8859-1 and WHATWG windows-1252.
#include "core/charsets.hpp"

#include <array>
#include <optional>
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

ByteSpan bytes_of(std::string_view text) noexcept {
    return ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Copies the run of ASCII characters at `position` (ASCII is its own byte in every set
// here, and most telemetry text is ASCII) and returns where the run ends.
std::size_t copy_ascii_run(std::string_view utf8, std::size_t position, std::string& out) {
    const std::size_t run = first_non_ascii(bytes_of(utf8.substr(position)));
    out.append(utf8.data() + position, run);
    return position + run;
}

// Each character of `utf8` at or below `limit` becomes one byte; the first above fails.
Result<std::string> encode_single_byte(std::string_view utf8, char32_t limit, const char* set) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t position = copy_ascii_run(utf8, 0, out);
    while (position < utf8.size()) {
        Utf8Reader reader(utf8.substr(position));
        std::size_t length = 0;
        const char32_t code_point = reader.next(length);
        if (code_point > limit) return invalid_character(utf8, position, length, code_point, set);
        out.push_back(static_cast<char>(code_point));
        position = copy_ascii_run(utf8, position + length, out);
    }
    return out;
}

// The byte for a character that is neither ASCII nor Latin-1's A0..FF, or nullopt when
// windows-1252 has none.
std::optional<std::uint8_t> windows_1252_byte(char32_t code_point) noexcept {
    for (std::size_t pointer = 0; pointer < windows_1252_high.size(); ++pointer) {
        if (windows_1252_high[pointer] == code_point) return static_cast<std::uint8_t>(0x80 + pointer);
    }
    return std::nullopt;
}

// Bytes 80..9F are the only ones whose character is not the byte's own number.
bool needs_windows_1252_table(ByteSpan data) noexcept {
    // No early exit, so that the loop vectorises; the table pass that usually follows
    // reads every byte anyway.
    unsigned found = 0;
    for (const std::uint8_t byte : data) found |= static_cast<unsigned>((byte & 0xE0) == 0x80);
    return found != 0;
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
    if (!needs_windows_1252_table(data)) return DecodedText::view(TextForm::latin1, data);
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
    std::size_t position = copy_ascii_run(utf8, 0, out);
    while (position < utf8.size()) {
        Utf8Reader reader(utf8.substr(position));
        std::size_t length = 0;
        const char32_t code_point = reader.next(length);
        if (code_point >= 0xA0 && code_point <= 0xFF) {
            out.push_back(static_cast<char>(code_point));
        } else if (const std::optional<std::uint8_t> byte = windows_1252_byte(code_point)) {
            out.push_back(static_cast<char>(*byte));
        } else {
            // The whole call fails: no replacement character, no partial output.
            return value_error("Failed to encode to Windows-1252");
        }
        position = copy_ascii_run(utf8, position + length, out);
    }
    return out;
}

}  // namespace telbit
