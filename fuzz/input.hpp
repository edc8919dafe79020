// Splits a fuzzer's byte string into the typed values a target needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace telbit::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <class T>
    T take() {
        T value{};
        const std::size_t count = size_ < sizeof(T) ? size_ : sizeof(T);
        if (count > 0) std::memcpy(&value, data_, count);
        data_ += count;
        size_ -= count;
        return value;
    }
    // Whatever is left.
    std::span<const std::uint8_t> rest() const { return {data_, size_}; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Widths: mostly near the interesting ones, sometimes anything up to 2^32-1.
inline std::uint32_t width_from(std::uint32_t raw) {
    switch (raw % 4) {
        case 0: return raw % 70;
        case 1: return raw % 140;
        case 2: return (raw >> 2) % 4 == 0 ? 0xFFFFFFFFu : 64 + (raw >> 4) % 8;
        default: return raw;
    }
}

}  // namespace telbit::fuzz
