// The shape in which text decoders hand back their result, so that the boundary can pick
// the cheapest way to build a str and no decoder needs to know about Python.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
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

// A text's encoded bytes: made for it, or its own UTF-8 form as it stands (a view, valid as
// long as the text the encoder was given).
struct EncodedText {
    std::string made;
    std::string_view view;
    bool is_view = false;

    [[nodiscard]] static EncodedText of(std::string bytes) {
        EncodedText text;
        text.made = std::move(bytes);
        return text;
    }
    [[nodiscard]] static EncodedText same_as(std::string_view utf8) noexcept {
        EncodedText text;
        text.view = utf8;
        text.is_view = true;
        return text;
    }
    // Computed on use: a view of `made` taken earlier would dangle once the value moves
    // (short strings live inside the object).
    [[nodiscard]] std::string_view bytes() const noexcept { return is_view ? view : std::string_view(made); }
};

}  // namespace telbit
