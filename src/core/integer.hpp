// Two's complement, ones' complement and sign-magnitude integers, and the raw-pattern-to-bytes step.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/bits.hpp"
#include "core/result.hpp"

namespace telbit {

// The width or range error of encode_twos_complement, apart so that the encoder stays small.
[[nodiscard]] Error twos_complement_error(std::int64_t value, std::uint32_t bits);

[[nodiscard]] inline Result<std::uint64_t> encode_twos_complement(std::int64_t value, std::uint32_t bits) {
    if (bits >= 1 && bits <= 63) {
        // 2^(bits-1) <= 2^62: both bounds fit a signed 64-bit integer.
        const auto half = static_cast<std::int64_t>(power_of_two(bits - 1));
        if (value < -half || value >= half) return twos_complement_error(value, bits);
        return static_cast<std::uint64_t>(value) & low_mask(bits);
    }
    if (bits == 64) return static_cast<std::uint64_t>(value);
    if (bits == 0) return std::uint64_t{0};  // a zero-width field holds nothing
    return twos_complement_error(value, bits);
}
[[nodiscard]] Result<std::uint64_t> encode_ones_complement(std::int64_t value, std::uint32_t bits);
[[nodiscard]] Result<std::uint64_t> encode_sign_magnitude(std::int64_t value, std::uint32_t bits);

// A zero-width field holds no bits, so all three decoders give 0 for it. Widths above 64
// read the pattern as a 64-bit field.

[[nodiscard]] constexpr std::int64_t decode_twos_complement(std::uint64_t pattern, std::uint32_t bits) noexcept {
    if (bits == 0) return 0;
    if (bits <= 63 && bit_set(pattern, bits - 1)) {
        // Sign-extend by setting every bit above the field; the conversion to a signed
        // type is modular, so no signed arithmetic can overflow here.
        return static_cast<std::int64_t>(pattern | ~low_mask(bits));
    }
    return static_cast<std::int64_t>(pattern);
}

[[nodiscard]] constexpr std::int64_t decode_ones_complement(std::uint64_t pattern, std::uint32_t bits) noexcept {
    if (bits == 0) return 0;
    if (bits > 63) {
        // A negative pattern plus one cannot overflow; all ones (negative zero) gives 0.
        const auto reinterpreted = static_cast<std::int64_t>(pattern);
        return bit_set(pattern, 63) ? reinterpreted + 1 : reinterpreted;
    }
    if (bit_set(pattern, bits - 1)) {
        // pattern - 2^bits + 1, wrapping: done in unsigned arithmetic, then reinterpreted.
        return static_cast<std::int64_t>(pattern - power_of_two(bits) + 1);
    }
    return static_cast<std::int64_t>(pattern);
}

[[nodiscard]] constexpr std::int64_t decode_sign_magnitude(std::uint64_t pattern, std::uint32_t bits) noexcept {
    if (bits == 0) return 0;
    const std::uint32_t sign_position = (bits < 64 ? bits : 64) - 1;
    // The magnitude has at most 63 bits, so negating it cannot overflow.
    const auto magnitude = static_cast<std::int64_t>(pattern & low_mask(sign_position));
    return bit_set(pattern, sign_position) ? -magnitude : magnitude;
}

// The range check of an "unsigned" field: widths 0..63 admit values below 2^bits.
[[nodiscard]] Error unsigned_range_error(std::uint64_t value, std::uint32_t bits);
[[nodiscard]] inline Status check_unsigned_range(std::uint64_t value, std::uint32_t bits) {
    if (bits <= 63 && value >= (std::uint64_t{1} << bits)) return unsigned_range_error(value, bits);
    return ok_status;
}

// A field's bytes as packing writes them, most significant first: `size` bytes, all zero
// except the `window_size` bytes of `window`, which start `window_offset` bytes into the
// field. At most nine bytes of any field can be non-zero, so even a field of 2^32-1 bits
// is described without materialising it.
struct FieldBytes {
    std::uint64_t size = 0;
    std::uint64_t window_offset = 0;
    std::uint32_t window_size = 0;
    std::array<std::uint8_t, 9> window{};

    // Byte k of the field (k < size), most significant first.
    [[nodiscard]] std::uint8_t at(std::uint64_t k) const noexcept {
        return k >= window_offset && k - window_offset < window_size ? window[k - window_offset] : 0;
    }
};

// The ceil(bits / 8) bytes of a raw pattern, mirrored within the field first when asked.
// Widths up to 64: the pattern's low 8*ceil(bits/8) bits, unmasked (bits of the pattern
// between `bits` and the byte boundary land in the first byte). Wider fields: the pattern
// right-aligned and zero-extended, and the mirror acts on the whole field width.
[[nodiscard]] FieldBytes encode_integer_to_bytes(std::uint64_t pattern, std::uint32_t bits,
                                                 bool reverse_bits) noexcept;

// Write the first destination.size() bytes of the field (of its reversal, end for end, when
// `reverse_order`); the caller cuts the destination at the end of the packet.
void store_field_bytes(const FieldBytes& field, bool reverse_order,
                       std::span<std::uint8_t> destination) noexcept;

}  // namespace telbit
