// UTF-8 written, read and judged from its bit layout and the Unicode Standard's table of
// well-formed sequences alone, as the checks' reference for the core.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace reference {

// The Unicode Standard's table of well-formed UTF-8 byte sequences: per row, the range each
// byte position admits.
struct Utf8Row {
    std::size_t length;
    std::array<std::uint8_t, 4> low;
    std::array<std::uint8_t, 4> high;
};
inline constexpr Utf8Row well_formed_rows[] = {
    {1, {0x00}, {0x7F}},
    {2, {0xC2, 0x80}, {0xDF, 0xBF}},
    {3, {0xE0, 0xA0, 0x80}, {0xE0, 0xBF, 0xBF}},
    {3, {0xE1, 0x80, 0x80}, {0xEC, 0xBF, 0xBF}},
    {3, {0xED, 0x80, 0x80}, {0xED, 0x9F, 0xBF}},
    {3, {0xEE, 0x80, 0x80}, {0xEF, 0xBF, 0xBF}},
    {4, {0xF0, 0x90, 0x80, 0x80}, {0xF0, 0xBF, 0xBF, 0xBF}},
    {4, {0xF1, 0x80, 0x80, 0x80}, {0xF3, 0xBF, 0xBF, 0xBF}},
    {4, {0xF4, 0x80, 0x80, 0x80}, {0xF4, 0x8F, 0xBF, 0xBF}},
};

struct Utf8Verdict {
    bool valid = true;
    std::size_t index = 0;
    std::size_t length = 0;  // 0: the input ends inside a sequence whose bytes so far fit
    bool operator==(const Utf8Verdict&) const = default;
};

// The first ill-formed sequence, found as the Standard defines the maximal subpart: the
// longest run at the offset that begins some well-formed sequence, or else one byte.
inline Utf8Verdict utf8_verdict(std::span<const std::uint8_t> data) {
    std::size_t i = 0;
    while (i < data.size()) {
        std::size_t longest = 0;
        bool complete = false;
        for (const Utf8Row& row : well_formed_rows) {
            std::size_t fit = 0;
            while (fit < row.length && i + fit < data.size() && data[i + fit] >= row.low[fit] &&
                   data[i + fit] <= row.high[fit]) {
                ++fit;
            }
            if (fit == row.length) {
                complete = true;
                longest = fit;
                break;
            }
            if (fit > longest) longest = fit;
        }
        if (complete) {
            i += longest;
            continue;
        }
        if (longest > 0 && i + longest == data.size()) return {false, i, 0};
        return {false, i, longest > 0 ? longest : 1};
    }
    return {};
}

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
