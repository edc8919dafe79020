// Where a field sits in a packet, and how its bytes are read and written.
#include "core/field.hpp"

#include <algorithm>
#include <cstring>

#include "core/integer.hpp"

namespace telbit {

ByteSpan text_field_bytes(ByteSpan field, bool little, std::vector<std::uint8_t>& scratch) {
    if (!little) return field;
    scratch.assign(field.rbegin(), field.rend());
    return ByteSpan(scratch.data(), scratch.size());
}

void write_wide_field_pattern(std::span<std::uint8_t> packet, std::uint64_t first, std::uint64_t pattern,
                              std::uint32_t bits, bool little, bool reverse_bits) noexcept {
    if (first >= packet.size()) return;
    const std::uint64_t field_size = (std::uint64_t{bits} + 7) / 8;
    const std::uint64_t count = std::min<std::uint64_t>(packet.size() - first, field_size);
    store_field_bytes(encode_integer_to_bytes(pattern, bits, reverse_bits), little, packet.subspan(first, count));
}

void write_field_text(std::span<std::uint8_t> packet, std::uint64_t first, std::string_view text,
                      std::uint32_t bits, bool little) noexcept {
    if (first >= packet.size()) return;
    const std::uint64_t field_size = (std::uint64_t{bits} + 7) / 8;
    const std::uint64_t count = std::min({packet.size() - first, field_size, std::uint64_t{text.size()}});
    std::uint8_t* target = packet.data() + first;
    if (little) {
        for (std::uint64_t k = 0; k < count; ++k) target[k] = static_cast<std::uint8_t>(text[text.size() - 1 - k]);
    } else if (count > 0) {
        std::memcpy(target, text.data(), count);
    }
}

}  // namespace telbit
