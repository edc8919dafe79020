// The shape in which text decoders hand back their result, so that the boundary can pick
// the cheapest way to build a str and no decoder needs to know about Python.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace telbit {

enum class TextForm : std::uint8_t {
    ascii,   // `bytes` holds only bytes 00..7F, one character each
    latin1,  // `bytes` holds one character per byte, U+0000..U+00FF
    utf8,    // `bytes` holds well-formed UTF-8
    utf32,   // `code_points` holds the characters (Unicode scalar values)
};

using CodePoints = std::vector<char32_t>;

struct DecodedText {
    TextForm form = TextForm::ascii;
    // Points into the decoder's input (or is empty); valid as long as that input is.
    std::span<const std::uint8_t> bytes;
    CodePoints code_points;

    [[nodiscard]] static DecodedText view(TextForm form, std::span<const std::uint8_t> bytes) {
        DecodedText text;
        text.form = form;
        text.bytes = bytes;
        return text;
    }
    [[nodiscard]] static DecodedText characters(CodePoints code_points) {
        DecodedText text;
        text.form = TextForm::utf32;
        text.code_points = std::move(code_points);
        return text;
    }
};

using ByteSpan = std::span<const std::uint8_t>;

}  // namespace telbit
