// Holds the UTF-8, UTF-16 and UTF-32 conversions against references written from the Unicode
// Standard (its table of well-formed UTF-8 byte sequences and the bit layouts of the three
// encoding forms), over exhaustive short inputs, the Standard's own substitution
// examples, every scalar value and random text; run under the sanitizers, it also shows that
// no decoder reads outside its input whatever it is fed.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "check.hpp"
#include "core/text.hpp"
#include "core/unicode.hpp"
#include "core/utf8.hpp"
#include "reference_utf8.hpp"

using namespace telbit;
using check::characters;
using check::fail;
using check::span_of;
using reference::Utf8Verdict;

namespace {

// ---- References -------------------------------------------------------------------------

void put_unit(std::string& out, std::uint32_t unit, std::size_t width, bool little) {
    for (std::size_t k = 0; k < width; ++k) {
        const std::size_t shift = 8 * (little ? k : width - 1 - k);
        out.push_back(static_cast<char>((unit >> shift) & 0xFF));
    }
}

std::string reference_utf16(const std::u32string& text, bool little) {
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x10000) {
            put_unit(out, c, 2, little);
        } else {
            put_unit(out, 0xD800 + ((c - 0x10000) >> 10), 2, little);
            put_unit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), 2, little);
        }
    }
    return out;
}

std::string reference_utf32(const std::u32string& text, bool little) {
    std::string out;
    for (const char32_t c : text) put_unit(out, c, 4, little);
    return out;
}

std::uint32_t read_unit(ByteSpan data, std::size_t at, std::size_t width, bool little) {
    std::uint32_t unit = 0;
    for (std::size_t k = 0; k < width; ++k) unit = (unit << 8) | data[at + (little ? width - 1 - k : k)];
    return unit;
}

// The text, or nullopt for a lone surrogate; the caller has checked the length.
std::optional<std::u32string> reference_utf16_decode(ByteSpan data, bool little) {
    std::u32string out;
    const std::size_t units = data.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = read_unit(data, 2 * i, 2, little);
        if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == units) return std::nullopt;
            const std::uint32_t next = read_unit(data, 2 * (i + 1), 2, little);
            if (next < 0xDC00 || next > 0xDFFF) return std::nullopt;
            out.push_back(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
            ++i;
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

std::string utf8_message(const Utf8Verdict& verdict) {
    if (verdict.length == 0) {
        return "Invalid UTF-8 bytes: incomplete utf-8 byte sequence from index " + std::to_string(verdict.index);
    }
    return "Invalid UTF-8 bytes: invalid utf-8 sequence of " + std::to_string(verdict.length) +
           " bytes from index " + std::to_string(verdict.index);
}

// ---- UTF-8 ------------------------------------------------------------------------------

void check_utf8(ByteSpan data) {
    const Utf8Verdict expected = reference::utf8_verdict(data);
    const Result<DecodedText> text = decode_utf8(data);
    if (text.ok() != expected.valid) return fail("decode_utf8 accepts differently", data);
    if (!text) {
        if (text.error().kind != ErrorKind::value_error || text.error().message != utf8_message(expected)) {
            fail("decode_utf8 message '" + text.error().message + "', expected '" + utf8_message(expected) + "'", data);
        }
        return;
    }
    // Valid input is handed on as a view of itself, never copied.
    if (text->bytes.data() != data.data() || text->bytes.size() != data.size()) fail("utf8 is not a view", data);
    bool ascii = true;
    for (const std::uint8_t byte : data) ascii = ascii && byte < 0x80;
    if (text->form != (ascii ? TextForm::ascii : TextForm::utf8)) fail("utf8 view has the wrong form", data);
    (void)characters(*text);
}

// Every sequence of up to three bytes whose first byte is not ASCII, scanned only (the
// messages are checked below on the boundary bytes).
void utf8_exhaustive_short() {
    std::array<std::uint8_t, 3> bytes{};
    for (unsigned a = 0; a < 256; ++a) {
        bytes[0] = static_cast<std::uint8_t>(a);
        check_utf8(ByteSpan(bytes.data(), 1));
        for (unsigned b = 0; b < 256; ++b) {
            bytes[1] = static_cast<std::uint8_t>(b);
            check_utf8(ByteSpan(bytes.data(), 2));
            if (a < 0xC2 || a > 0xF4) continue;  // the first byte alone decides these
            for (unsigned c = 0; c < 256; ++c) {
                bytes[2] = static_cast<std::uint8_t>(c);
                const ByteSpan data(bytes.data(), 3);
                const Utf8Verdict expected = reference::utf8_verdict(data);
                const Utf8Scan scan = scan_utf8(data);
                if (scan.valid != expected.valid || (!scan.valid && (scan.problem.index != expected.index ||
                                                                     scan.problem.length != expected.length))) {
                    fail("scan_utf8 disagrees", data);
                }
            }
        }
    }
}

// Every sequence of up to four bytes over the bytes where some range of the table starts or
// ends, behind an ASCII run that moves it across the eight-byte words of the ASCII path.
void utf8_boundary_bytes() {
    const std::uint8_t edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                                  0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFE, 0xFF};
    constexpr std::size_t count = sizeof edges;
    std::vector<std::uint8_t> data;
    std::size_t round = 0;
    for (std::size_t length = 1; length <= 4; ++length) {
        std::size_t combinations = 1;
        for (std::size_t k = 0; k < length; ++k) combinations *= count;
        for (std::size_t n = 0; n < combinations; ++n, ++round) {
            data.assign(round % 19, 'x');
            std::size_t digits = n;
            for (std::size_t k = 0; k < length; ++k, digits /= count) data.push_back(edges[digits % count]);
            check_utf8(ByteSpan(data));
        }
    }
}

void utf8_every_scalar_value() {
    std::u32string one(1, U'\0');
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c == 0xD800) c = 0xE000;
        one[0] = c;
        const std::string bytes = reference::utf8(one);
        const Result<DecodedText> text = decode_utf8(span_of(bytes));
        if (!text || characters(*text) != one) fail("a scalar value does not decode", span_of(bytes));
    }
    // What the bit layout would give for a surrogate or for a value past U+10FFFF is refused
    // at its first byte that cannot fit.
    for (const char32_t c : {U'\xD800', U'\xDFFF'}) {
        const std::string bytes = reference::utf8(std::u32string(1, c));
        check_utf8(span_of(bytes));
    }
    const std::uint8_t beyond[] = {0xF4, 0x90, 0x80, 0x80};
    check_utf8(ByteSpan(beyond, 4));
}

// The Unicode Standard's examples of substituting U+FFFD for each maximal subpart. Rebuilt
// from the decoder's own reports: decode, and at each error replace the maximal subpart it
// names (or the incomplete rest) and go on after it.
void utf8_substitution_examples() {
    struct Example {
        std::vector<std::uint8_t> bytes;
        std::u32string text;
    };
    const std::vector<Example> examples = {
        {{0x61, 0xF1, 0x80, 0x80, 0xE1, 0x80, 0xC2, 0x62, 0x80, 0x63, 0x80, 0xBF, 0x64},
         U"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
        {{0xC0, 0xAF, 0xE0, 0x80, 0xBF, 0xF0, 0x81, 0x82, 0x41}, U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDA"},
        {{0xED, 0xA0, 0x80, 0xED, 0xBF, 0xBF, 0xED, 0xAF, 0x41}, U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDA"},
        {{0xF4, 0x91, 0x92, 0x93, 0xFF, 0x41, 0x80, 0xBF, 0x42}, U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDA\uFFFD\uFFFDB"},
        {{0xE1, 0x80, 0xE2, 0xF0, 0x91, 0x92, 0xF1, 0xBF, 0x41}, U"\uFFFD\uFFFD\uFFFD\uFFFDA"},
        {{0x41, 0xF0, 0x9F, 0x98}, U"A\uFFFD"},
    };
    for (const Example& example : examples) {
        const ByteSpan all = ByteSpan(example.bytes);
        std::u32string text;
        std::size_t at = 0;
        while (at < all.size()) {
            const ByteSpan rest = all.subspan(at);
            const Utf8Scan scan = scan_utf8(rest);
            const std::size_t good = scan.valid ? rest.size() : scan.problem.index;
            text += reference::code_points(rest.first(good));
            if (scan.valid) break;
            text.push_back(U'\uFFFD');
            at += scan.problem.length == 0 ? rest.size() : good + scan.problem.length;
        }
        if (text != example.text) fail("maximal subparts differ from the Standard's example", all);
        check_utf8(all);
    }
}

// Stated examples, written out here as the full messages the caller reads.
void utf8_messages() {
    struct Case {
        std::vector<std::uint8_t> bytes;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{0xFF}, "Invalid UTF-8 bytes: invalid utf-8 sequence of 1 bytes from index 0"},
        {{0x61, 0xE2, 0x28, 0xA1}, "Invalid UTF-8 bytes: invalid utf-8 sequence of 1 bytes from index 1"},
        {{0xE2, 0x82}, "Invalid UTF-8 bytes: incomplete utf-8 byte sequence from index 0"},
        {{0xE0, 0x80}, "Invalid UTF-8 bytes: invalid utf-8 sequence of 1 bytes from index 0"},
        {{0x61, 0x62, 0xE2, 0x82}, "Invalid UTF-8 bytes: incomplete utf-8 byte sequence from index 2"},
        {{0xF0, 0x9F, 0x98, 0x41}, "Invalid UTF-8 bytes: invalid utf-8 sequence of 3 bytes from index 0"},
        {{0xE2, 0x82, 0x41}, "Invalid UTF-8 bytes: invalid utf-8 sequence of 2 bytes from index 0"},
    };
    for (const Case& c : cases) {
        const Result<DecodedText> text = decode_utf8(ByteSpan(c.bytes));
        if (text || text.error().message != c.message) fail(std::string("expected ") + c.message, ByteSpan(c.bytes));
    }
    const std::uint8_t marked[] = {0xEF, 0xBB, 0xBF, 0x41};
    const Result<DecodedText> text = decode_utf8(ByteSpan(marked, 4));
    if (!text || characters(*text) != U"\uFEFFA") {
        fail("a UTF-8 mark is not kept", ByteSpan(marked, 4));
    }
}

// The ASCII path reads eight bytes at a time: an offender at every place in and around
// those words, from every alignment, must still be found exactly where it is.
void utf8_ascii_words() {
    std::vector<std::uint8_t> buffer(96, 'a');
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t bad = start; bad < 80; ++bad) {
            buffer[bad] = 0x80;
            const ByteSpan data(buffer.data() + start, 80 - start);
            check_utf8(data);
            const Result<DecodedText> text = decode_utf8(data);
            const std::string expected = utf8_message({false, bad - start, 1});
            if (text || text.error().message != expected) fail("the ASCII path misplaces an offender", data);
            buffer[bad] = 'a';
        }
    }
    std::string big(1 << 20, 'z');
    big += "\xC3\xA9";
    check_utf8(span_of(big));
    big.back() = 'z';
    check_utf8(span_of(big));
}

// ---- UTF-16 and UTF-32 ------------------------------------------------------------------

void check_utf16(ByteSpan data) {
    for (const bool little : {false, true}) {
        const Result<DecodedText> text = decode_utf16_with_endianness(data, little);
        if (data.size() % 2 != 0) {
            if (text || text.error().message != "UTF-16 requires an even number of bytes") fail("odd UTF-16", data);
            continue;
        }
        const std::optional<std::u32string> expected = reference_utf16_decode(data, little);
        if (text.ok() != expected.has_value()) {
            fail(little ? "utf16le accepts differently" : "utf16be accepts differently", data);
        } else if (!text) {
            if (text.error().message != "Invalid UTF-16 sequence: invalid utf-16: lone surrogate found") {
                fail("utf16 lone surrogate message", data);
            }
        } else if (characters(*text) != *expected) {
            fail("utf16 text differs", data);
        }
    }
    // With the mark: the length test first, then at most one leading mark, else big-endian.
    const Result<DecodedText> text = decode_utf16(data);
    if (data.size() < 2 || data.size() % 2 != 0) {
        if (text || text.error().message != "UTF-16 requires an even number of bytes with at least 2 bytes") {
            fail("decode_utf16 length", data);
        }
        return;
    }
    const bool big_mark = data[0] == 0xFE && data[1] == 0xFF;
    const bool little_mark = data[0] == 0xFF && data[1] == 0xFE;
    const std::optional<std::u32string> expected =
        reference_utf16_decode(big_mark || little_mark ? data.subspan(2) : data, little_mark);
    if (text.ok() != expected.has_value() || (text && characters(*text) != *expected)) {
        fail("decode_utf16 differs", data);
    }
}

std::string utf32_message(std::uint32_t unit) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "Invalid UTF-32 codepoint: 0x%08X", static_cast<unsigned>(unit));
    return buffer;
}

// Decoding `data` in the given order: the text, or the message of the first bad unit.
struct Utf32Outcome {
    std::u32string text;
    std::string failure;  // empty on success
};
Utf32Outcome reference_utf32_decode(ByteSpan data, bool little) {
    if (data.size() % 4 != 0) return {{}, "UTF-32 requires a multiple of 4 bytes"};
    Utf32Outcome outcome;
    for (std::size_t i = 0; i < data.size(); i += 4) {
        const std::uint32_t unit = read_unit(data, i, 4, little);
        if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF)) return {{}, utf32_message(unit)};
        outcome.text.push_back(unit);
    }
    return outcome;
}

void compare_utf32(const Result<DecodedText>& text, const Utf32Outcome& expected, const char* what, ByteSpan data) {
    if (text.ok() != expected.failure.empty()) {
        fail(std::string(what) + " accepts differently", data);
    } else if (!text) {
        if (text.error().message != expected.failure) {
            fail(std::string(what) + " says '" + text.error().message + "'", data);
        }
    } else if (characters(*text) != expected.text) {
        fail(std::string(what) + " text differs", data);
    }
}

void check_utf32(ByteSpan data) {
    compare_utf32(decode_utf32_with_endianness(data, false), reference_utf32_decode(data, false), "utf32be", data);
    compare_utf32(decode_utf32_with_endianness(data, true), reference_utf32_decode(data, true), "utf32le", data);
    // With the mark: the length test first, then at most one leading mark, else big-endian.
    if (data.size() < 4 || data.size() % 4 != 0) {
        compare_utf32(decode_utf32(data), {{}, "UTF-32 requires a multiple of 4 bytes with at least 4 bytes"}, "utf32",
                      data);
        return;
    }
    const bool little_mark = data[0] == 0xFF && data[1] == 0xFE && data[2] == 0 && data[3] == 0;
    const bool big_mark = data[0] == 0 && data[1] == 0 && data[2] == 0xFE && data[3] == 0xFF;
    const ByteSpan body = little_mark || big_mark ? data.subspan(4) : data;
    compare_utf32(decode_utf32(data), reference_utf32_decode(body, little_mark), "utf32", data);
}

// Every input of up to six bytes over the bytes that make marks and surrogates.
void utf16_utf32_short_inputs() {
    const std::uint8_t alphabet[] = {0x00, 0x41, 0xD8, 0xDB, 0xDC, 0xDF, 0xFE, 0xFF, 0x10, 0x11};
    constexpr std::size_t count = sizeof alphabet;
    std::vector<std::uint8_t> data;
    for (std::size_t length = 0; length <= 6; ++length) {
        std::size_t combinations = 1;
        for (std::size_t k = 0; k < length; ++k) combinations *= count;
        for (std::size_t n = 0; n < combinations; ++n) {
            data.clear();
            for (std::size_t k = 0, digits = n; k < length; ++k, digits /= count) {
                data.push_back(alphabet[digits % count]);
            }
            check_utf16(ByteSpan(data));
            check_utf32(ByteSpan(data));
        }
    }
}

void utf32_unit_messages() {
    const std::uint32_t units[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0x110000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                   0x0000FFFF, 0x0010FFFF, 0x0000D7FF, 0x0000E000};
    for (const std::uint32_t unit : units) {
        for (const bool little : {false, true}) {
            std::string bytes = reference_utf32(U"A", little);
            put_unit(bytes, unit, 4, little);
            check_utf32(span_of(bytes));
        }
    }
}

// ---- Encoders and round trips -----------------------------------------------------------

char32_t random_scalar(check::Random& random) {
    static constexpr char32_t chosen[] = {0x0000, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF, 0xE000,
                                          0xFEFF, 0xFFFE, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
    for (;;) {
        char32_t c = 0;
        switch (random() % 5) {
            case 0: c = static_cast<char32_t>(random() % 0x80); break;
            case 1: c = static_cast<char32_t>(random() % 0x800); break;
            case 2: c = static_cast<char32_t>(random() % 0x10000); break;
            case 3: c = static_cast<char32_t>(random() % 0x110000); break;
            default: c = chosen[random() % (sizeof chosen / sizeof chosen[0])]; break;
        }
        if (c < 0xD800 || c > 0xDFFF) return c;
    }
}

void check_encoded(const std::string& encoded, const std::string& expected, const char* what, const std::string& utf8) {
    if (encoded != expected) fail(std::string(what) + " encodes differently", span_of(utf8));
}

void round_trip(const std::u32string& text) {
    const std::string utf8 = reference::utf8(text);
    const ByteSpan input = span_of(utf8);
    const auto back = [&](const Result<DecodedText>& decoded, const char* what) {
        if (!decoded || characters(*decoded) != text) fail(std::string(what) + " round trip", input);
    };
    back(decode_utf8(input), "utf8");
    const std::string be16 = encode_utf16be(utf8), le16 = encode_utf16le(utf8);
    const std::string be32 = encode_utf32be(utf8), le32 = encode_utf32le(utf8);
    const std::string marked16 = encode_utf16(utf8), marked32 = encode_utf32(utf8);
    check_encoded(be16, reference_utf16(text, false), "utf16be", utf8);
    check_encoded(le16, reference_utf16(text, true), "utf16le", utf8);
    check_encoded(be32, reference_utf32(text, false), "utf32be", utf8);
    check_encoded(le32, reference_utf32(text, true), "utf32le", utf8);
    check_encoded(marked16, std::string("\xFE\xFF", 2) + be16, "utf16", utf8);
    check_encoded(marked32, std::string("\x00\x00\xFE\xFF", 4) + be32, "utf32", utf8);
    back(decode_utf16_with_endianness(span_of(be16), false), "utf16be");
    back(decode_utf16_with_endianness(span_of(le16), true), "utf16le");
    back(decode_utf32_with_endianness(span_of(be32), false), "utf32be");
    back(decode_utf32_with_endianness(span_of(le32), true), "utf32le");
    back(decode_utf16(span_of(marked16)), "utf16");
    back(decode_utf32(span_of(marked32)), "utf32");
}

void round_trips(check::Random& random) {
    // A text that begins with U+FEFF or U+FFFE keeps it: the mark the encoder writes comes first.
    const std::u32string edges[] = {U"", std::u32string(1, U'\0'), std::u32string(3, U'\0'), U"\uFEFF", U"\uFFFEA",
                                    std::u32string(U"\U0010FFFF\uFEFF\0", 3)};
    for (const std::u32string& text : edges) round_trip(text);
    for (int round = 0; round < 30000; ++round) {
        std::u32string text(random() % 24, U'\0');
        for (char32_t& c : text) c = random_scalar(random);
        round_trip(text);
    }
}

// Random bytes into every decoder, and (though the interpreter only ever hands over
// well-formed UTF-8) into every encoder: whatever they answer, they stay inside their input.
void arbitrary_bytes(check::Random& random) {
    const std::uint8_t interesting[] = {0x00, 0x41, 0x7F, 0x80, 0x9F, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xED,
                                        0xEF, 0xF0, 0xF4, 0xF5, 0xFE, 0xFF, 0xD8, 0xDC, 0x10, 0x11, 0xBB};
    for (int round = 0; round < 100000; ++round) {
        std::vector<std::uint8_t> data(random() % 40);
        for (auto& byte : data) {
            byte = (random() & 1) != 0 ? static_cast<std::uint8_t>(random())
                                       : interesting[random() % sizeof interesting];
        }
        // An exact-size heap copy, so that AddressSanitizer sees a read one byte too far.
        const std::vector<std::uint8_t> exact(data);
        const ByteSpan bytes = ByteSpan(exact);
        check_utf8(bytes);
        check_utf16(bytes);
        check_utf32(bytes);
        const std::string_view as_text(reinterpret_cast<const char*>(exact.data()), exact.size());
        if (encode_utf16(as_text).size() % 2 != 0 || encode_utf16le(as_text).size() % 2 != 0 ||
            encode_utf32(as_text).size() % 4 != 0 || encode_utf32le(as_text).size() % 4 != 0) {
            fail("an encoder wrote a partial unit", bytes);
        }
    }
}

}  // namespace

int main() {
    check::Random random(0x7E1B17);
    utf8_exhaustive_short();
    utf8_boundary_bytes();
    utf8_every_scalar_value();
    utf8_substitution_examples();
    utf8_messages();
    utf8_ascii_words();
    utf16_utf32_short_inputs();
    utf32_unit_messages();
    round_trips(random);
    arbitrary_bytes(random);
    return check::verdict();
}
