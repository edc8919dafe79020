// Small text formatting helpers for error messages (the toolchain has no <format>).
#pragma once

#include <cstdint>
#include <string>

namespace telbit {

// `value` in upper-case hexadecimal, zero-filled to at least `min_digits` digits.
[[nodiscard]] inline std::string upper_hex(std::uint64_t value, int min_digits) {
    static constexpr char digits[] = "0123456789ABCDEF";
    char buffer[16];
    int count = 0;
    do {
        buffer[count++] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string text;
    text.reserve(static_cast<std::size_t>(count > min_digits ? count : min_digits));
    for (int i = count; i < min_digits; ++i) text.push_back('0');
    while (count > 0) text.push_back(buffer[--count]);
    return text;
}

// A byte as exactly two upper-case hexadecimal digits.
[[nodiscard]] inline std::string hex_byte(std::uint8_t byte) { return upper_hex(byte, 2); }

}  // namespace telbit
