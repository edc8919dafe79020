// UTF-8, UTF-16 and UTF-32: strict decoding with exact error messages, and encoding.
#include "core/unicode.hpp"

#include <string>

#include "core/format.hpp"
#include "core/utf8.hpp"

namespace telbit {

Utf8Scan scan_utf8(ByteSpan data) noexcept {
    Utf8Scan scan;
    const std::size_t size = data.size();
    std::size_t i = first_non_ascii(data);
    while (i < size) {
        const std::uint8_t lead = data[i];
        if (lead < 0x80) {
            i += first_non_ascii(data.subspan(i));
            continue;
        }
        scan.ascii = false;
        // The continuation bytes a lead byte admits: its second byte's range, then 80..BF.
        std::size_t trailing = 0;
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trailing = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trailing = 2;
            if (lead == 0xE0) low = 0xA0;   // no overlong three-byte forms
            if (lead == 0xED) high = 0x9F;  // no encoded surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trailing = 3;
            if (lead == 0xF0) low = 0x90;   // no overlong four-byte forms
            if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        } else {
            scan.valid = false;
            scan.problem = {i, 1};
            return scan;
        }
        for (std::size_t k = 1; k <= trailing; ++k) {
            if (i + k >= size) {
                scan.valid = false;
                scan.problem = {i, 0};
                return scan;
            }
            const std::uint8_t byte = data[i + k];
            const bool fits = k == 1 ? (byte >= low && byte <= high) : (byte >= 0x80 && byte <= 0xBF);
            if (!fits) {
                scan.valid = false;
                scan.problem = {i, k};
                return scan;
            }
        }
        i += trailing + 1;
    }
    return scan;
}

namespace {

char32_t read_unit16(const std::uint8_t* p, bool little_endian) noexcept {
    return little_endian ? static_cast<char32_t>(p[0] | (p[1] << 8)) : static_cast<char32_t>((p[0] << 8) | p[1]);
}

char32_t read_unit32(const std::uint8_t* p, bool little_endian) noexcept {
    // Widened before shifting: a byte promotes to int, and 0x80 << 24 does not fit an int.
    const std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
    return little_endian ? static_cast<char32_t>(b0 | (b1 << 8) | (b2 << 16) | (b3 << 24))
                         : static_cast<char32_t>((b0 << 24) | (b1 << 16) | (b2 << 8) | b3);
}

bool is_high_surrogate(char32_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-16 code units, both byte orders, for text given as well-formed UTF-8.
std::string utf16_units(std::string_view utf8, bool little_endian, std::string prefix = {}) {
    std::string out = std::move(prefix);
    out.reserve(out.size() + 2 * utf8.size());
    const auto put = [&](char32_t unit) {
        const auto high = static_cast<char>((unit >> 8) & 0xFF);
        const auto low = static_cast<char>(unit & 0xFF);
        if (little_endian) {
            out.push_back(low);
            out.push_back(high);
        } else {
            out.push_back(high);
            out.push_back(low);
        }
    };
    Utf8Reader reader(utf8);
    std::size_t length = 0;
    while (!reader.done()) {
        const char32_t code_point = reader.next(length);
        if (code_point < 0x10000) {
            put(code_point);
        } else {
            const char32_t offset = code_point - 0x10000;
            put(0xD800 + (offset >> 10));
            put(0xDC00 + (offset & 0x3FF));
        }
    }
    return out;
}

std::string utf32_units(std::string_view utf8, bool little_endian, std::string prefix = {}) {
    std::string out = std::move(prefix);
    out.reserve(out.size() + 4 * utf8.size());
    Utf8Reader reader(utf8);
    std::size_t length = 0;
    while (!reader.done()) {
        const char32_t code_point = reader.next(length);
        for (int k = 0; k < 4; ++k) {
            const int shift = little_endian ? 8 * k : 8 * (3 - k);
            out.push_back(static_cast<char>((code_point >> shift) & 0xFF));
        }
    }
    return out;
}

}  // namespace

Result<DecodedText> decode_utf8(ByteSpan data) {
    const Utf8Scan scan = scan_utf8(data);
    if (!scan.valid) {
        std::string message = "Invalid UTF-8 bytes: ";
        if (scan.problem.length == 0) {
            message += "incomplete utf-8 byte sequence from index " + std::to_string(scan.problem.index);
        } else {
            message += "invalid utf-8 sequence of " + std::to_string(scan.problem.length) + " bytes from index " +
                       std::to_string(scan.problem.index);
        }
        return value_error(std::move(message));
    }
    return DecodedText::view(scan.ascii ? TextForm::ascii : TextForm::utf8, data);
}

Result<DecodedText> decode_utf16_with_endianness(ByteSpan data, bool little_endian) {
    if (data.size() % 2 != 0) return value_error("UTF-16 requires an even number of bytes");
    CodePoints text;
    text.reserve(data.size() / 2);
    const std::size_t units = data.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = read_unit16(data.data() + 2 * i, little_endian);
        if (is_high_surrogate(unit) && i + 1 < units) {
            const char32_t next = read_unit16(data.data() + 2 * (i + 1), little_endian);
            if (is_low_surrogate(next)) {
                text.push_back(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            return value_error("Invalid UTF-16 sequence: invalid utf-16: lone surrogate found");
        }
        text.push_back(unit);
    }
    return DecodedText::characters(std::move(text));
}

Result<DecodedText> decode_utf16(ByteSpan data) {
    if (data.size() < 2 || data.size() % 2 != 0) {
        return value_error("UTF-16 requires an even number of bytes with at least 2 bytes");
    }
    if (data[0] == 0xFE && data[1] == 0xFF) return decode_utf16_with_endianness(data.subspan(2), false);
    if (data[0] == 0xFF && data[1] == 0xFE) return decode_utf16_with_endianness(data.subspan(2), true);
    return decode_utf16_with_endianness(data, false);
}

Result<DecodedText> decode_utf32_with_endianness(ByteSpan data, bool little_endian) {
    if (data.size() % 4 != 0) return value_error("UTF-32 requires a multiple of 4 bytes");
    CodePoints text;
    text.reserve(data.size() / 4);
    for (std::size_t i = 0; i < data.size(); i += 4) {
        const char32_t unit = read_unit32(data.data() + i, little_endian);
        if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF)) {
            return value_error("Invalid UTF-32 codepoint: 0x" + upper_hex(unit, 8));
        }
        text.push_back(unit);
    }
    return DecodedText::characters(std::move(text));
}

Result<DecodedText> decode_utf32(ByteSpan data) {
    if (data.size() < 4 || data.size() % 4 != 0) {
        return value_error("UTF-32 requires a multiple of 4 bytes with at least 4 bytes");
    }
    if (data[0] == 0xFF && data[1] == 0xFE && data[2] == 0 && data[3] == 0) {
        return decode_utf32_with_endianness(data.subspan(4), true);
    }
    if (data[0] == 0 && data[1] == 0 && data[2] == 0xFE && data[3] == 0xFF) {
        return decode_utf32_with_endianness(data.subspan(4), false);
    }
    return decode_utf32_with_endianness(data, false);
}

std::string encode_utf16(std::string_view utf8) { return utf16_units(utf8, false, std::string("\xFE\xFF", 2)); }
std::string encode_utf32(std::string_view utf8) {
    return utf32_units(utf8, false, std::string("\x00\x00\xFE\xFF", 4));
}
std::string encode_utf16be(std::string_view utf8) { return utf16_units(utf8, false); }
std::string encode_utf16le(std::string_view utf8) { return utf16_units(utf8, true); }
std::string encode_utf32be(std::string_view utf8) { return utf32_units(utf8, false); }
std::string encode_utf32le(std::string_view utf8) { return utf32_units(utf8, true); }

}  // namespace telbit
