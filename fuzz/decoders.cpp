// Every decoder fed arbitrary patterns, widths and bytes: it must answer, never misbehave.
#include <cstdint>
#include <cstdlib>

#include "core/bcd.hpp"
#include "core/charsets.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/unicode.hpp"
#include "core/utf8.hpp"
#include "fuzz/input.hpp"

using namespace telbit;

namespace {

void check_text(const Result<DecodedText>& text) {
    if (!text) {
        if (text.error().message.empty()) std::abort();
        return;
    }
    switch (text->form) {
        case TextForm::ascii:
            if (first_non_ascii(text->bytes) != text->bytes.size()) std::abort();
            break;
        case TextForm::utf8:
            if (!scan_utf8(text->bytes).valid) std::abort();
            break;
        case TextForm::utf32:
            for (const char32_t c : text->code_points) {
                if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) std::abort();
            }
            break;
        case TextForm::latin1: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const auto pattern = input.take<std::uint64_t>();
    const std::uint32_t bits = fuzz::width_from(input.take<std::uint32_t>());
    const auto high = input.take<std::uint64_t>();
    const ByteSpan bytes = input.rest();

    (void)decode_twos_complement(pattern, bits);
    (void)decode_ones_complement(pattern, bits);
    (void)decode_sign_magnitude(pattern, bits);
    for (const bool is_signed : {false, true}) {
        if (Result<std::int64_t> r = decode_packed_bcd(pattern, bits, is_signed); !r && r.error().message.empty()) {
            std::abort();
        }
        if (Result<std::int64_t> r = decode_unpacked_bcd(pattern, bits, is_signed); !r && r.error().message.empty()) {
            std::abort();
        }
    }
    (void)decode_ieee754_f16(pattern);
    (void)decode_ieee754_f32(pattern);
    (void)decode_ieee754_f64(pattern);
    (void)decode_ieee754_f128(high, pattern);
    (void)encode_integer_to_bytes(pattern, bits, (high & 1) != 0);

    check_text(decode_utf8(bytes));
    check_text(decode_utf16(bytes));
    check_text(decode_utf32(bytes));
    check_text(decode_utf16_with_endianness(bytes, true));
    check_text(decode_utf16_with_endianness(bytes, false));
    check_text(decode_utf32_with_endianness(bytes, true));
    check_text(decode_utf32_with_endianness(bytes, false));
    check_text(decode_us_ascii(bytes));
    check_text(decode_windows_1252(bytes));
    return 0;
}
