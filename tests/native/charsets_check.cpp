// Holds US-ASCII, ISO-8859-1 and windows-1252 against the published WHATWG index (read from
// tests/data, not from the table compiled into the core) over every byte, every byte pair
// and every scalar value, with the exact messages, and feeds the decoders and encoders
// arbitrary input under the sanitizers.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "check.hpp"
#include "core/charsets.hpp"
#include "core/text.hpp"
#include "core/unicode.hpp"
#include "reference_utf8.hpp"

using namespace telbit;
using check::characters;
using check::fail;
using check::span_of;

namespace {

bool is_view_of(const DecodedText& text, ByteSpan input) {
    return text.bytes.data() == input.data() && text.bytes.size() == input.size();
}

// ---- The published index ----------------------------------------------------------------

// Byte 80..FF -> code point, from index-windows-1252.txt beside this program's sources.
std::array<char32_t, 128> read_index() {
    std::array<char32_t, 128> index{};
    std::string path = __FILE__;
    path = path.substr(0, path.find_last_of('/') + 1) + "../data/index-windows-1252.txt";
    std::ifstream file(path);
    if (!file) {
        std::printf("cannot read %s\n", path.c_str());
        std::exit(EXIT_FAILURE);
    }
    std::size_t entries = 0;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        unsigned long pointer = 0;
        std::string code_point;
        fields >> pointer >> code_point;
        if (pointer >= index.size() || code_point.rfind("0x", 0) != 0) {
            std::printf("unreadable index line: %s\n", line.c_str());
            std::exit(EXIT_FAILURE);
        }
        index[pointer] = static_cast<char32_t>(std::stoul(code_point.substr(2), nullptr, 16));
        ++entries;
    }
    if (entries != index.size()) {
        std::printf("the index has %zu entries, expected 128\n", entries);
        std::exit(EXIT_FAILURE);
    }
    return index;
}

char32_t windows_1252_character(const std::array<char32_t, 128>& index, std::uint8_t byte) {
    return byte < 0x80 ? char32_t{byte} : index[byte - 0x80];
}

std::optional<std::uint8_t> windows_1252_byte(const std::array<char32_t, 128>& index, char32_t c) {
    if (c < 0x80) return static_cast<std::uint8_t>(c);
    for (std::size_t pointer = 0; pointer < index.size(); ++pointer) {
        if (index[pointer] == c) return static_cast<std::uint8_t>(0x80 + pointer);
    }
    return std::nullopt;
}

// ---- windows-1252 -----------------------------------------------------------------------

void expect_windows_1252(ByteSpan data, const std::u32string& expected) {
    const Result<DecodedText> text = decode_windows_1252(data);
    if (!text) return fail("decode_windows_1252 failed: " + text.error().message, data);
    if (characters(*text) != expected) fail("decode_windows_1252 text differs", data);
}

void windows_1252_bytes(const std::array<char32_t, 128>& index) {
    // One byte is too short for any mark, so every byte decodes through the index alone;
    // outside 80..9F the character is the byte's own number and the input is viewed, not copied.
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint8_t byte = static_cast<std::uint8_t>(b);
        const ByteSpan data(&byte, 1);
        const char32_t c = windows_1252_character(index, byte);
        expect_windows_1252(data, std::u32string(1, c));
        const Result<DecodedText> text = decode_windows_1252(data);
        const bool own_number = b < 0x80 || b >= 0xA0;
        if (text && own_number != (text->form == TextForm::latin1 && is_view_of(*text, data))) {
            fail("decode_windows_1252 copies needlessly or views wrongly", data);
        }
        const Result<std::string> encoded = encode_windows_1252(reference::utf8(std::u32string(1, c)));
        if (!encoded || *encoded != std::string(1, static_cast<char>(byte))) {
            fail("encode_windows_1252 of its character", data);
        }
    }
    // Every pair: two marks, and everything else through the index.
    std::array<std::uint8_t, 2> pair{};
    for (unsigned n = 0; n < 65536; ++n) {
        pair[0] = static_cast<std::uint8_t>(n >> 8);
        pair[1] = static_cast<std::uint8_t>(n & 0xFF);
        const bool mark = (pair[0] == 0xFF && pair[1] == 0xFE) || (pair[0] == 0xFE && pair[1] == 0xFF);
        const std::u32string through_index{windows_1252_character(index, pair[0]),
                                           windows_1252_character(index, pair[1])};
        expect_windows_1252(ByteSpan(pair.data(), 2), mark ? std::u32string() : through_index);
    }
    // All 256 bytes at once, and back.
    std::vector<std::uint8_t> all(256);
    std::u32string expected;
    for (unsigned b = 0; b < 256; ++b) {
        all[b] = static_cast<std::uint8_t>(b);
        expected.push_back(windows_1252_character(index, all[b]));
    }
    expect_windows_1252(ByteSpan(all), expected);
    const Result<std::string> encoded = encode_windows_1252(reference::utf8(expected));
    if (!encoded || span_of(*encoded).size() != 256 || !std::equal(all.begin(), all.end(), span_of(*encoded).begin())) {
        fail("encode_windows_1252 of all 256 characters", ByteSpan(all));
    }
}

// Every scalar value alone and between ASCII neighbours: one byte where the index (or
// ASCII) has it, else the fixed failure and nothing else.
void windows_1252_every_character(const std::array<char32_t, 128>& index) {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c == 0xD800) c = 0xE000;
        const std::optional<std::uint8_t> byte = windows_1252_byte(index, c);
        const std::string text = reference::utf8(std::u32string{U'A', c, U'z'});
        const Result<std::string> encoded = encode_windows_1252(text);
        if (byte) {
            const std::string expected{'A', static_cast<char>(*byte), 'z'};
            if (!encoded || *encoded != expected) fail("encode_windows_1252 of a mapped character", span_of(text));
        } else if (encoded || encoded.error().message != "Failed to encode to Windows-1252" ||
                   encoded.error().kind != ErrorKind::value_error) {
            fail("encode_windows_1252 of an unmappable character", span_of(text));
        }
    }
}

// After a mark the input is UTF-8 or UTF-16 and fails as a whole on malformed data, with
// the one fixed message; the UTF decoders themselves are checked on their own.
void windows_1252_marks(check::Random& random) {
    const std::uint8_t interesting[] = {0x00, 0x41, 0x80, 0xBF, 0xC2, 0xE0, 0xED, 0xF0, 0xF4, 0xFF, 0xD8, 0xDC, 0xFE};
    const std::vector<std::uint8_t> marks[] = {{0xEF, 0xBB, 0xBF}, {0xFF, 0xFE}, {0xFE, 0xFF}};
    for (int round = 0; round < 60000; ++round) {
        const std::vector<std::uint8_t>& mark = marks[round % 3];
        std::vector<std::uint8_t> data(mark);
        const std::size_t length = random() % 12;
        for (std::size_t k = 0; k < length; ++k) {
            data.push_back((random() & 1) != 0 ? static_cast<std::uint8_t>(random())
                                               : interesting[random() % sizeof interesting]);
        }
        const std::vector<std::uint8_t> exact(data);  // exact size, so a read past it is seen
        const ByteSpan input = ByteSpan(exact);
        const ByteSpan rest = input.subspan(mark.size());
        const Result<DecodedText> expected = mark.size() == 3 ? decode_utf8(rest)
                                                              : decode_utf16_with_endianness(rest, mark[0] == 0xFF);
        const Result<DecodedText> text = decode_windows_1252(input);
        if (text.ok() != expected.ok()) {
            fail("decode_windows_1252 after a mark accepts differently", input);
        } else if (!text) {
            if (text.error().message != "Failed to decode Windows-1252 bytes") fail("decode failure message", input);
        } else if (characters(*text) != characters(*expected)) {
            fail("decode_windows_1252 after a mark differs", input);
        }
    }
    // Too short for the mark it starts: read through the index.
    const std::uint8_t short_mark[] = {0xEF, 0xBB};
    expect_windows_1252(ByteSpan(short_mark, 2), U"\u00EF\u00BB");
    expect_windows_1252(ByteSpan(short_mark, 1), U"\u00EF");
}

// ---- US-ASCII and ISO-8859-1 ------------------------------------------------------------

std::string character_message(char32_t c, const char* set) {
    char code[16];
    std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(c));
    return "Character '" + reference::utf8(std::u32string(1, c)) + "' (U+" + code + ") is not valid " + set;
}

// Every scalar value behind an ASCII run of varying length (so the encoders' ASCII copying
// ends at every place in its words), followed by a character that is also refused: the
// first offender is the one named.
void single_byte_every_character() {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c == 0xD800) c = 0xE000;
        const std::u32string text = std::u32string(c % 19, U'q') + c + U'\U0001F600';
        const std::string utf8 = reference::utf8(text);
        const Result<std::string> ascii = encode_us_ascii(utf8);
        const Result<std::string> latin = encode_iso_8859_1(utf8);
        const char32_t ascii_offender = c > 0x7F ? c : U'\U0001F600';
        const char32_t latin_offender = c > 0xFF ? c : U'\U0001F600';
        if (ascii || ascii.error().message != character_message(ascii_offender, "US-ASCII")) {
            fail("encode_us_ascii names the wrong offender", span_of(utf8));
        }
        if (latin || latin.error().message != character_message(latin_offender, "ISO-8859-1")) {
            fail("encode_iso_8859_1 names the wrong offender", span_of(utf8));
        }
        if (c > 0xFF) continue;
        const std::string alone = reference::utf8(text.substr(0, text.size() - 1));
        const std::string bytes = std::string(c % 19, 'q') + static_cast<char>(c);
        const Result<std::string> latin_alone = encode_iso_8859_1(alone);
        if (!latin_alone || *latin_alone != bytes) fail("encode_iso_8859_1", span_of(alone));
        const Result<std::string> ascii_alone = encode_us_ascii(alone);
        if (ascii_alone.ok() != (c < 0x80) || (ascii_alone && *ascii_alone != bytes)) {
            fail("encode_us_ascii", span_of(alone));
        }
    }
}

void single_byte_decoders() {
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint8_t byte = static_cast<std::uint8_t>(b);
        const ByteSpan data(&byte, 1);
        const DecodedText latin = decode_iso_8859_1(data);
        if (latin.form != TextForm::latin1 || !is_view_of(latin, data)) {
            fail("decode_iso_8859_1 is no latin1 view", data);
        }
        const Result<DecodedText> ascii = decode_us_ascii(data);
        if (b < 0x80) {
            if (!ascii || ascii->form != TextForm::ascii || !is_view_of(*ascii, data)) {
                fail("decode_us_ascii view", data);
            }
            continue;
        }
        char expected[64];
        std::snprintf(expected, sizeof expected, "Invalid US-ASCII byte: 0x%02X (must be <= 0x7F)", b);
        if (ascii || ascii.error().message != expected) fail("decode_us_ascii message", data);
    }
    // The first offender from every alignment and place, with a later one behind it.
    std::vector<std::uint8_t> buffer(96, 'a');
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t bad = start; bad + 1 < 80; ++bad) {
            buffer[bad] = static_cast<std::uint8_t>(0x80 + bad);
            buffer[bad + 1] = 0xFF;
            const ByteSpan data(buffer.data() + start, 80 - start);
            char expected[64];
            std::snprintf(expected, sizeof expected, "Invalid US-ASCII byte: 0x%02X (must be <= 0x7F)",
                          static_cast<unsigned>(buffer[bad]));
            const Result<DecodedText> ascii = decode_us_ascii(data);
            if (ascii || ascii.error().message != expected) fail("decode_us_ascii misses the first offender", data);
            buffer[bad] = buffer[bad + 1] = 'a';
        }
    }
}

// Random text drawn from each set's own repertoire comes back unchanged.
void round_trips(check::Random& random, const std::array<char32_t, 128>& index) {
    for (int round = 0; round < 20000; ++round) {
        std::u32string text(random() % 30, U'\0');
        for (char32_t& c : text) c = windows_1252_character(index, static_cast<std::uint8_t>(random()));
        const std::string utf8 = reference::utf8(text);
        const Result<std::string> encoded = encode_windows_1252(utf8);
        if (!encoded) {
            fail("encode_windows_1252 refuses its own repertoire", span_of(utf8));
            continue;
        }
        const bool marked = encoded->rfind("\xEF\xBB\xBF", 0) == 0 || encoded->rfind("\xFF\xFE", 0) == 0 ||
                            encoded->rfind("\xFE\xFF", 0) == 0;
        if (!marked) {
            const Result<DecodedText> back = decode_windows_1252(span_of(*encoded));
            if (!back || characters(*back) != text) fail("windows-1252 round trip", span_of(utf8));
        }
        for (char32_t& c : text) c = static_cast<char32_t>(random() % 0x100);
        const std::string latin_text = reference::utf8(text);
        const Result<std::string> latin = encode_iso_8859_1(latin_text);
        if (!latin || characters(decode_iso_8859_1(span_of(*latin))) != text) {
            fail("iso-8859-1 round trip", span_of(latin_text));
        }
        for (char32_t& c : text) c %= 0x80;
        const std::string ascii_text = reference::utf8(text);
        const Result<std::string> ascii = encode_us_ascii(ascii_text);
        if (!ascii) {
            fail("encode_us_ascii refuses ASCII", span_of(ascii_text));
            continue;
        }
        const Result<DecodedText> ascii_back = decode_us_ascii(span_of(*ascii));
        if (!ascii_back || characters(*ascii_back) != text) {
            fail("us-ascii round trip", span_of(ascii_text));
        }
    }
}

// Arbitrary bytes into the decoders and, though the interpreter only hands over well-formed
// UTF-8, into the encoders: whatever they answer, they stay inside their input.
void arbitrary_bytes(check::Random& random) {
    for (int round = 0; round < 60000; ++round) {
        std::vector<std::uint8_t> data(random() % 40);
        for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
        const std::vector<std::uint8_t> exact(data);
        const ByteSpan bytes = ByteSpan(exact);
        const Result<DecodedText> ascii = decode_us_ascii(bytes);
        const Result<DecodedText> windows = decode_windows_1252(bytes);
        if (ascii) (void)characters(*ascii);
        if (windows) (void)characters(*windows);
        const std::string_view text(reinterpret_cast<const char*>(exact.data()), exact.size());
        for (const Result<std::string>& encoded :
             {encode_us_ascii(text), encode_iso_8859_1(text), encode_windows_1252(text)}) {
            if (encoded && encoded->size() > exact.size()) {
                fail("a single-byte encoder wrote more bytes than it read", bytes);
            }
        }
    }
}

}  // namespace

int main() {
    check::Random random(1252);
    const std::array<char32_t, 128> index = read_index();
    windows_1252_bytes(index);
    windows_1252_every_character(index);
    windows_1252_marks(random);
    single_byte_every_character();
    single_byte_decoders();
    round_trips(random, index);
    arbitrary_bytes(random);
    return check::verdict();
}
