// Two's complement, ones' complement and sign-magnitude integers, and the raw-pattern-to-bytes step.
#include "core/integer.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "core/bits.hpp"

namespace telbit {
namespace {

std::string width_text(std::uint32_t bits) { return std::to_string(bits) + " bits"; }

// |value| as an unsigned number; negating INT64_MIN in signed arithmetic would overflow.
constexpr std::uint64_t magnitude_of(std::int64_t value) noexcept {
    return value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

}  // namespace

Error twos_complement_error(std::int64_t value, std::uint32_t bits) {
    if (bits > 64) return value_error("bits must be <= 64 for two's complement encoding");
    // 1 <= bits <= 63 here, so 2^(bits-1) <= 2^62 and both bounds fit a signed 64-bit integer.
    const auto half = static_cast<std::int64_t>(power_of_two(bits - 1));
    return value_error("Value " + std::to_string(value) + " out of range for " + width_text(bits) +
                       " (range: " + std::to_string(-half) + " to " + std::to_string(half - 1) + ")");
}

Result<std::uint64_t> encode_ones_complement(std::int64_t value, std::uint32_t bits) {
    if (bits > 64) return value_error("bits must be <= 64 for ones' complement encoding");
    const auto magnitude_error = [&] {
        return value_error("Value " + std::to_string(value) + " is too large (magnitude) for " + width_text(bits));
    };
    if (value == std::numeric_limits<std::int64_t>::min()) return magnitude_error();
    if (bits == 0) return value >= 0 ? static_cast<std::uint64_t>(value) : std::uint64_t{0};
    if (value >= 0) {
        const std::uint64_t largest = power_of_two(bits - 1) - 1;  // bits - 1 <= 63
        if (static_cast<std::uint64_t>(value) > largest) {
            return value_error("Value " + std::to_string(value) + " is too large for " + width_text(bits));
        }
        return static_cast<std::uint64_t>(value);
    }
    const std::uint64_t magnitude = magnitude_of(value);
    if (magnitude >= power_of_two(bits - 1)) return magnitude_error();
    // The complement of the magnitude within the field: mask - magnitude cannot wrap.
    return low_mask(bits) - magnitude;
}

Result<std::uint64_t> encode_sign_magnitude(std::int64_t value, std::uint32_t bits) {
    if (bits < 2 || bits > 64) return value_error("bits must be between 2 and 64 for sign-magnitude encoding");
    const std::uint64_t magnitude = magnitude_of(value);
    const std::uint64_t sign_bit = power_of_two(bits - 1);  // bits - 1 <= 63
    if (magnitude >= sign_bit) {
        return value_error("Magnitude of " + std::to_string(value) + " is too large for " + width_text(bits));
    }
    return value < 0 ? magnitude | sign_bit : magnitude;
}

Error unsigned_range_error(std::uint64_t value, std::uint32_t bits) {
    return value_error("Value " + std::to_string(value) + " is too large for " + width_text(bits));
}

FieldBytes encode_integer_to_bytes(std::uint64_t pattern, std::uint32_t bits, bool reverse_bits) noexcept {
    FieldBytes field;
    field.size = (std::uint64_t{bits} + 7) / 8;
    if (field.size == 0) return field;
    if (bits <= 64) {
        const std::uint64_t value = reverse_bits ? mirror_low_bits(pattern, bits) : pattern;
        field.window_size = static_cast<std::uint32_t>(field.size);
        for (std::uint32_t k = 0; k < field.window_size; ++k) {
            const std::uint32_t shift = 8 * (field.window_size - 1 - k);  // at most 56
            field.window[k] = static_cast<std::uint8_t>(value >> shift);
        }
        return field;
    }
    if (!reverse_bits) {
        // Right-aligned and zero-extended: the pattern fills the last eight bytes.
        field.window_offset = field.size - 8;
        field.window_size = 8;
        for (std::uint32_t k = 0; k < 8; ++k) field.window[k] = static_cast<std::uint8_t>(pattern >> (56 - 8 * k));
        return field;
    }
    // Mirrored across the whole width: bit i of the pattern lands on field bit bits-1-i, so
    // the reversed pattern starts at field bit bits-64 and covers up to nine bytes.
    const std::uint64_t lowest_bit = std::uint64_t{bits} - 64;
    const std::uint64_t first_byte_from_end = lowest_bit / 8;
    const unsigned shift = static_cast<unsigned>(lowest_bit % 8);
    const std::uint64_t reversed = reverse64(pattern);
    const std::uint64_t low_part = reversed << shift;
    const std::uint64_t high_part = shift == 0 ? 0 : reversed >> (64 - shift);  // a shift by 64 is undefined
    const std::uint64_t count = std::min<std::uint64_t>(9, field.size - first_byte_from_end);
    field.window_size = static_cast<std::uint32_t>(count);
    field.window_offset = field.size - first_byte_from_end - count;
    for (std::uint64_t j = 0; j < count; ++j) {  // j counts bytes from the least significant end
        const std::uint8_t byte =
            j < 8 ? static_cast<std::uint8_t>(low_part >> (8 * j)) : static_cast<std::uint8_t>(high_part);
        field.window[count - 1 - j] = byte;
    }
    return field;
}

void store_field_bytes(const FieldBytes& field, bool reverse_order, std::span<std::uint8_t> destination) noexcept {
    std::fill(destination.begin(), destination.end(), std::uint8_t{0});
    for (std::uint32_t w = 0; w < field.window_size; ++w) {
        const std::uint64_t index = field.window_offset + w;
        const std::uint64_t target = reverse_order ? field.size - 1 - index : index;
        if (target < destination.size()) destination[target] = field.window[w];
    }
}

}  // namespace telbit
