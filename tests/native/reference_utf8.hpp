// UTF-8 written and read from its bit layout alone, as the checks' reference for the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace reference {

// The UTF-8 bytes of a text of scalar values.
inline std::string utf8(const std::u32string& text) {
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// The code points of well-formed UTF-8; a sequence cut short by the end reads what is there.
inline std::u32string code_points(std::span<const std::uint8_t> data) {
    std::u32string out;
    for (std::size_t i = 0; i < data.size();) {
        const std::uint8_t lead = data[i];
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const unsigned payload_mask = length == 1 ? 0x7Fu : length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u;
        char32_t value = lead & payload_mask;
        for (std::size_t k = 1; k < length && i + k < data.size(); ++k) value = (value << 6) | (data[i + k] & 0x3Fu);
        out.push_back(value);
        i += length;
    }
    return out;
}

}  // namespace reference
