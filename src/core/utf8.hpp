// UTF-8 scanning shared by the Unicode and single-byte encodings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/text.hpp"

namespace telbit {

// Where and how UTF-8 input is ill-formed, in the Unicode Standard's maximal-subpart terms.
struct Utf8Problem {
    std::size_t index = 0;   // where the ill-formed sequence begins (the valid prefix's length)
    std::size_t length = 0;  // maximal subpart length (1 to 3), or 0 when the input ends inside a sequence
};

struct Utf8Scan {
    bool valid = true;
    bool ascii = true;  // every byte below 0x80
    Utf8Problem problem;
};

[[nodiscard]] Utf8Scan scan_utf8(ByteSpan data) noexcept;

// Index of the first byte at or above 0x80, or data.size().
[[nodiscard]] inline std::size_t first_non_ascii(ByteSpan data) noexcept {
    std::size_t i = 0;
    // Eight bytes at a time; memcpy avoids unaligned and aliasing reads.
    for (; i + 8 <= data.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data.data() + i, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0) break;
    }
    while (i < data.size() && data[i] < 0x80) ++i;
    return i;
}

// Reads code points out of text that is known to be well-formed UTF-8 (as the interpreter
// hands a str over).
class Utf8Reader {
public:
    explicit Utf8Reader(std::string_view text) noexcept : text_(text) {}
    [[nodiscard]] bool done() const noexcept { return position_ >= text_.size(); }
    [[nodiscard]] std::size_t position() const noexcept { return position_; }
    // The next code point; `length` receives its byte count.
    char32_t next(std::size_t& length) noexcept {
        const auto lead = static_cast<unsigned char>(text_[position_]);
        std::size_t count = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (count > text_.size() - position_) count = text_.size() - position_;  // never past the end
        char32_t value = count == 1 ? lead : lead & (0x7F >> count);
        for (std::size_t k = 1; k < count; ++k) {
            value = (value << 6) | (static_cast<unsigned char>(text_[position_ + k]) & 0x3F);
        }
        position_ += count;
        length = count;
        return value;
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

}  // namespace telbit
