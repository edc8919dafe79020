// Where a field sits in a packet, and how its bytes are read and written: the layout both
// recipe walks share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/bits.hpp"
#include "core/text.hpp"

namespace telbit {

// A field at bit `position` with `bits` bits occupies the ceil(bits / 8) bytes from byte
// floor(position / 8); the low three bits of the position do not move it.
struct FieldSpan {
    std::uint64_t first = 0;
    std::uint64_t size = 0;

    // Whether the span lies inside a packet of `length` bytes (computed without overflow).
    [[nodiscard]] constexpr bool inside(std::uint64_t length) const noexcept {
        return first <= length && size <= length - first;
    }
};

[[nodiscard]] constexpr FieldSpan field_span(std::uint64_t position, std::uint32_t bits) noexcept {
    return {position >> 3, (std::uint64_t{bits} + 7) >> 3};
}

// The pattern of a numeric field whose bytes are `field`: the first (up to) eight bytes in
// field order (the span read from its end for a little-endian field), read as one
// big-endian number, then masked to the field's `bits` or mirrored within them.
[[nodiscard]] inline std::uint64_t read_field_pattern(ByteSpan field, std::uint32_t bits, bool little,
                                                      bool reverse_bits) noexcept {
    const std::size_t used = std::min<std::size_t>(field.size(), 8);
    std::uint64_t accumulator = 0;
    // A little-endian field's bytes are taken from the end of its span backwards, so that no
    // copy of the field is needed.
    if (little) {
        for (std::size_t i = 0; i < used; ++i) accumulator = (accumulator << 8) | field[field.size() - 1 - i];
    } else {
        for (std::size_t i = 0; i < used; ++i) accumulator = (accumulator << 8) | field[i];
    }
    if (reverse_bits) return mirror_field_pattern(accumulator, bits);
    return accumulator & low_mask(bits);
}

// A text field's bytes in field order: the span itself, or for a little-endian field its
// reversal, made in `scratch`.
[[nodiscard]] ByteSpan text_field_bytes(ByteSpan field, bool little, std::vector<std::uint8_t>& scratch);

// Write a numeric field's pattern at byte `first` of `packet`: ceil(bits / 8) bytes, most
// significant first, mirrored within the field first when asked and reversed end for end
// for a little-endian field (encode_integer_to_bytes gives the bytes). Bytes past the end
// of the packet are dropped.
void write_wide_field_pattern(std::span<std::uint8_t> packet, std::uint64_t first, std::uint64_t pattern,
                              std::uint32_t bits, bool little, bool reverse_bits) noexcept;
inline void write_field_pattern(std::span<std::uint8_t> packet, std::uint64_t first, std::uint64_t pattern,
                                std::uint32_t bits, bool little, bool reverse_bits) noexcept {
    if (bits > 64) return write_wide_field_pattern(packet, first, pattern, bits, little, reverse_bits);
    if (first >= packet.size()) return;
    // Up to eight bytes: what encode_integer_to_bytes gives, written without building it.
    const std::uint64_t field_size = (std::uint64_t{bits} + 7) / 8;
    const std::uint64_t count = std::min<std::uint64_t>(packet.size() - first, field_size);
    const std::uint64_t value = reverse_bits ? mirror_low_bits(pattern, bits) : pattern;
    std::uint8_t* target = packet.data() + first;
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint64_t significance = little ? k : field_size - 1 - k;  // below 8
        target[k] = static_cast<std::uint8_t>(value >> (8 * significance));
    }
}

// Write a text's bytes at byte `first` of `packet`, the whole text reversed end for end for
// a little-endian field, never past the field's own ceil(bits / 8) bytes nor past the end of
// the packet. The rest of the field keeps what it held.
void write_field_text(std::span<std::uint8_t> packet, std::uint64_t first, std::string_view text,
                      std::uint32_t bits, bool little) noexcept;

}  // namespace telbit
