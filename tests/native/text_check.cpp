// Feeds every text decoder random and adversarial bytes under the sanitizers, and checks
// that every encoder's output decodes back to the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/charsets.hpp"
#include "core/unicode.hpp"
#include "core/utf8.hpp"
#include "reference_utf8.hpp"

using namespace telbit;

namespace {

int failures = 0;

void fail(const char* what, std::size_t round) {
    if (++failures <= 20) std::printf("%s failed in round %zu\n", what, round);
}

// The characters of a decoded text, whatever its form.
std::u32string characters(const DecodedText& text) {
    if (text.form == TextForm::utf32) return std::u32string(text.code_points.begin(), text.code_points.end());
    if (text.form != TextForm::utf8) return std::u32string(text.bytes.begin(), text.bytes.end());
    std::u32string out;
    const std::string_view view(reinterpret_cast<const char*>(text.bytes.data()), text.bytes.size());
    Utf8Reader reader(view);
    std::size_t length = 0;
    while (!reader.done()) out.push_back(reader.next(length));
    return out;
}

ByteSpan span_of(const std::string& bytes) {
    return ByteSpan(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main() {
    std::mt19937_64 random(1252);
    const std::uint8_t interesting[] = {0x00, 0x41, 0x7F, 0x80, 0x9F, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xED,
                                        0xEF, 0xF0, 0xF4, 0xF5, 0xFE, 0xFF, 0xD8, 0xDC, 0x10, 0x11, 0xBB};
    for (std::size_t round = 0; round < 200000; ++round) {
        // Arbitrary bytes: no decoder may read past them, whatever it answers.
        std::vector<std::uint8_t> data(random() % 24);
        for (auto& byte : data) {
            byte = (random() & 1) != 0 ? static_cast<std::uint8_t>(random())
                                       : interesting[random() % sizeof interesting];
        }
        const ByteSpan bytes(data.data(), data.size());
        const auto checked = [&](const Result<DecodedText>& text) {
            if (text && text->form == TextForm::utf8 && !scan_utf8(text->bytes).valid) fail("utf8 view", round);
        };
        checked(decode_utf8(bytes));
        checked(decode_utf16(bytes));
        checked(decode_utf32(bytes));
        checked(decode_utf16_with_endianness(bytes, true));
        checked(decode_utf32_with_endianness(bytes, false));
        checked(decode_us_ascii(bytes));
        checked(decode_windows_1252(bytes));

        // Random scalar values: every encoder's output decodes back.
        std::u32string text(random() % 12, U'\0');
        for (auto& c : text) {
            do {
                const auto pick = random() % 4;
                c = static_cast<char32_t>(pick == 0 ? random() % 0x80 : pick == 1 ? random() % 0x800
                                                      : pick == 2 ? random() % 0x10000 : random() % 0x110000);
            } while (c >= 0xD800 && c <= 0xDFFF);
        }
        const std::string utf8 = reference::utf8(text);
        const auto round_trip = [&](const std::string& encoded, const Result<DecodedText>& decoded, const char* what) {
            (void)encoded;
            if (!decoded || characters(*decoded) != text) fail(what, round);
        };
        std::string encoded;
        round_trip(utf8, decode_utf8(span_of(utf8)), "utf8");
        encoded = encode_utf16(utf8);
        round_trip(encoded, decode_utf16(span_of(encoded)), "utf16");
        encoded = encode_utf32(utf8);
        round_trip(encoded, decode_utf32(span_of(encoded)), "utf32");
        encoded = encode_utf16le(utf8);
        round_trip(encoded, decode_utf16_with_endianness(span_of(encoded), true), "utf16le");
        encoded = encode_utf16be(utf8);
        round_trip(encoded, decode_utf16_with_endianness(span_of(encoded), false), "utf16be");
        encoded = encode_utf32le(utf8);
        round_trip(encoded, decode_utf32_with_endianness(span_of(encoded), true), "utf32le");
        encoded = encode_utf32be(utf8);
        round_trip(encoded, decode_utf32_with_endianness(span_of(encoded), false), "utf32be");
        if (Result<std::string> single = encode_windows_1252(utf8)) {
            if (single->rfind("\xEF\xBB\xBF", 0) != 0 && single->rfind("\xFF\xFE", 0) != 0 &&
                single->rfind("\xFE\xFF", 0) != 0) {
                round_trip(*single, decode_windows_1252(span_of(*single)), "windows_1252");
            }
        }
        if (Result<std::string> latin = encode_iso_8859_1(utf8)) {
            round_trip(*latin, Result<DecodedText>(decode_iso_8859_1(span_of(*latin))), "iso_8859_1");
        }
    }
    if (failures != 0) {
        std::printf("%d failures\n", failures);
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
