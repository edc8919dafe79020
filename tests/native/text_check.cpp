// Feeds every text decoder random and adversarial bytes under the sanitizers, and checks
// that every encoder's output decodes back to the text.
#include <cstdint>
#include <string>
#include <vector>

#include "check.hpp"
#include "core/charsets.hpp"
#include "core/unicode.hpp"
#include "reference_utf8.hpp"

using namespace telbit;
using check::characters;
using check::span_of;

int main() {
    check::Random random(1252);
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
        // Whatever they answer, what they give keeps the promise of its form.
        for (const Result<DecodedText>& text :
             {decode_utf8(bytes), decode_utf16(bytes), decode_utf32(bytes), decode_utf16_with_endianness(bytes, true),
              decode_utf32_with_endianness(bytes, false), decode_us_ascii(bytes), decode_windows_1252(bytes)}) {
            if (text) (void)characters(*text);
        }

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
        const auto round_trip = [&](const Result<DecodedText>& decoded, const char* what) {
            if (!decoded || characters(*decoded) != text) {
                check::fail(std::string(what) + " round trip in round " + std::to_string(round));
            }
        };
        round_trip(decode_utf8(span_of(utf8)), "utf8");
        const std::string marked16 = encode_utf16(utf8), marked32 = encode_utf32(utf8);
        round_trip(decode_utf16(span_of(marked16)), "utf16");
        round_trip(decode_utf32(span_of(marked32)), "utf32");
        for (const bool little : {false, true}) {
            const std::string utf16 = little ? encode_utf16le(utf8) : encode_utf16be(utf8);
            round_trip(decode_utf16_with_endianness(span_of(utf16), little), little ? "utf16le" : "utf16be");
            const std::string utf32 = little ? encode_utf32le(utf8) : encode_utf32be(utf8);
            round_trip(decode_utf32_with_endianness(span_of(utf32), little), little ? "utf32le" : "utf32be");
        }
        if (Result<std::string> single = encode_windows_1252(utf8)) {
            if (single->rfind("\xEF\xBB\xBF", 0) != 0 && single->rfind("\xFF\xFE", 0) != 0 &&
                single->rfind("\xFE\xFF", 0) != 0) {
                round_trip(decode_windows_1252(span_of(*single)), "windows_1252");
            }
        }
        if (Result<std::string> latin = encode_iso_8859_1(utf8)) {
            round_trip(Result<DecodedText>(decode_iso_8859_1(span_of(*latin))), "iso_8859_1");
        }
    }
    return check::verdict();
}
