// Binary-coded decimal: packed (one digit per nibble) and unpacked/zoned (one digit per byte).
#include "core/bcd.hpp"

#include <algorithm>
#include <string>

#include "core/format.hpp"

namespace telbit {
namespace {

// Digit positions a 64-bit pattern can hold: 16 nibbles, 8 bytes; the signed packed layout
// spends its lowest nibble on the sign.
constexpr std::uint64_t packed_positions = 16;
constexpr std::uint64_t unpacked_positions = 8;

// |value| as an unsigned number: -2^63 has magnitude 2^63, which no signed type holds.
constexpr std::uint64_t magnitude_of(std::int64_t value) noexcept {
    return value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

Error invalid_digit(std::uint64_t digit) {
    return value_error("Invalid BCD digit: " + std::to_string(digit) + " (must be 0-9)");
}

Error too_many_digits(std::int64_t value, std::uint64_t count) {
    return value_error("Value " + std::to_string(value) + " has too many digits for " + std::to_string(count) +
                       " BCD digits");
}

// Split `magnitude` into at most `count` decimal digits, least significant first. False when
// a non-zero quotient remains.
bool split_digits(std::uint64_t magnitude, std::uint64_t count, std::uint8_t (&digits)[packed_positions]) {
    std::fill(std::begin(digits), std::end(digits), std::uint8_t{0});
    for (std::uint64_t i = 0; i < count && magnitude != 0; ++i) {
        digits[i] = static_cast<std::uint8_t>(magnitude % 10);
        magnitude /= 10;
    }
    return magnitude == 0;
}

// Sum of digits times powers of ten; at most 16 digits, so below 10^16 < 2^63.
std::int64_t from_digits(const std::uint8_t* digits, std::uint64_t count) {
    std::int64_t result = 0;
    for (std::uint64_t i = count; i > 0; --i) result = result * 10 + digits[i - 1];
    return result;
}

}  // namespace

Result<std::int64_t> decode_packed_bcd(std::uint64_t value, std::uint32_t bits, bool is_signed) {
    const std::uint64_t positions = bits / 4;
    if (positions == 0) return std::int64_t{0};
    // Nibbles beyond bit 63 read as zero digits, so only the first sixteen can matter.
    const std::uint64_t readable = std::min(positions, packed_positions);
    std::uint8_t digits[packed_positions] = {};
    std::uint64_t first = 0;
    std::uint8_t sign = 0;
    if (is_signed) {
        sign = static_cast<std::uint8_t>(value & 0xF);
        if (sign < 0xA) return value_error("Invalid BCD sign nibble: expected 0xA-0xF for signed packed BCD");
        first = 1;
    }
    for (std::uint64_t i = first; i < readable; ++i) {
        const auto nibble = static_cast<std::uint8_t>((value >> (4 * i)) & 0xF);  // 4 * i <= 60
        if (nibble > 9) return invalid_digit(nibble);
        digits[i - first] = nibble;
    }
    const std::int64_t magnitude = from_digits(digits, readable - first);
    return (sign == 0xB || sign == 0xD) ? -magnitude : magnitude;
}

Result<std::int64_t> decode_unpacked_bcd(std::uint64_t value, std::uint32_t bits, bool is_signed) {
    const std::uint64_t positions = bits / 8;
    if (positions == 0) return std::int64_t{0};
    const std::uint64_t readable = std::min(positions, unpacked_positions);
    std::uint8_t digits[packed_positions] = {};
    bool negative = false;
    std::uint64_t first = 0;
    if (is_signed) {
        const auto units = static_cast<std::uint8_t>(value & 0xFF);
        const std::uint8_t zone = units & 0xF0;
        const std::uint8_t digit = units & 0x0F;
        if (digit > 9 || (zone != 0xC0 && zone != 0xD0 && zone != 0xF0 && zone != 0x30)) {
            return value_error("Invalid zoned decimal signed byte: 0x" + hex_byte(units) +
                               " (expected 0x30-0x39, 0xC0-0xC9, 0xD0-0xD9, or 0xF0-0xF9)");
        }
        negative = zone == 0xD0;
        digits[0] = digit;
        first = 1;
    }
    for (std::uint64_t i = first; i < readable; ++i) {
        const auto byte = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);  // 8 * i <= 56
        if (!is_signed) {
            if (byte > 9) return invalid_digit(byte);
            digits[i] = byte;
            continue;
        }
        const std::uint8_t zone = byte & 0xF0;
        if ((zone != 0x30 && zone != 0xF0) || (byte & 0x0F) > 9) {
            return value_error("Invalid zoned decimal byte: 0x" + hex_byte(byte) +
                               " (expected ASCII 0x30-0x39 or EBCDIC 0xF0-0xF9)");
        }
        digits[i] = byte & 0x0F;
    }
    // Past bit 63 a zoned field reads zero bytes, which carry no zone.
    if (is_signed && positions > unpacked_positions) {
        return value_error("Invalid zoned decimal byte: 0x00 (expected ASCII 0x30-0x39 or EBCDIC 0xF0-0xF9)");
    }
    const std::int64_t magnitude = from_digits(digits, readable);
    return negative ? -magnitude : magnitude;
}

Result<std::uint64_t> encode_packed_bcd(std::int64_t value, std::uint32_t bits, bool is_signed) {
    if (bits < 4) return value_error("bits must be >= 4 for packed BCD");
    if (value < 0 && !is_signed) return value_error("Cannot encode negative value in unsigned BCD");
    const std::uint64_t positions = bits / 4;
    const std::uint64_t digit_positions = is_signed ? positions - 1 : positions;
    // A digit at a position beyond the 64-bit pattern would be lost, so it counts as no room.
    const std::uint64_t room = std::min(digit_positions, is_signed ? packed_positions - 1 : packed_positions);
    std::uint8_t digits[packed_positions];
    if (!split_digits(magnitude_of(value), room, digits)) return too_many_digits(value, room);
    std::uint64_t pattern = 0;
    const unsigned shift = is_signed ? 1 : 0;
    for (std::uint64_t i = 0; i < room; ++i) pattern |= std::uint64_t{digits[i]} << (4 * (i + shift));  // <= 60
    if (is_signed) pattern |= value < 0 ? 0xD : 0xC;
    return pattern;
}

Result<std::uint64_t> encode_unpacked_bcd(std::int64_t value, std::uint32_t bits, bool is_signed) {
    if (bits < 8) return value_error("bits must be >= 8 for unpacked BCD");
    if (value < 0 && !is_signed) return value_error("Cannot encode negative value in unsigned BCD");
    const std::uint64_t positions = bits / 8;
    // Every position of a zoned field carries a zone, so none may fall beyond the pattern.
    if (is_signed && positions > unpacked_positions) return value_error("bits must be <= 64 for signed unpacked BCD");
    const std::uint64_t room = std::min(positions, unpacked_positions);
    std::uint8_t digits[packed_positions];
    if (!split_digits(magnitude_of(value), room, digits)) return too_many_digits(value, room);
    std::uint64_t pattern = 0;
    for (std::uint64_t i = 0; i < room; ++i) {
        std::uint64_t byte = digits[i];
        if (is_signed) byte |= i == 0 ? (value < 0 ? 0xD0 : 0xC0) : 0xF0;
        pattern |= byte << (8 * i);  // 8 * i <= 56
    }
    return pattern;
}

}  // namespace telbit
