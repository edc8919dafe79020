// Arbitrary bytes cut into fields and read as the unpacking walk reads them, and every
// decoder fed arbitrary patterns, widths and bytes: each must answer, never misbehave, read
// a field as the layout rule says, and agree with the relations between the decoders.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/bits.hpp"
#include "core/charsets.hpp"
#include "core/codecs.hpp"
#include "core/field.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/unicode.hpp"
#include "core/utf8.hpp"
#include "fuzz/input.hpp"
#include "tests/native/check.hpp"

using namespace telbit;
using check::characters;
using check::require;

namespace {

// A result keeps the promise of its form, and an error always says something.
void check_text(const Result<DecodedText>& text, std::string_view decoder) {
    if (!text) {
        if (text.error().message.empty()) check::fail(std::string(decoder) + " fails without saying why");
        return;
    }
    (void)characters(*text);
}

// Both results fail, or both succeed with the same characters.
void require_same(const Result<DecodedText>& a, const Result<DecodedText>& b) {
    require(static_cast<bool>(a) == static_cast<bool>(b), "one decoder accepts what the other refuses");
    if (a) require(characters(*a) == characters(*b), "the two decoders give different characters");
}

// The input with every group of `unit` bytes reversed; a trailing partial group stays put.
std::vector<std::uint8_t> swap_units(ByteSpan bytes, std::size_t unit) {
    std::vector<std::uint8_t> swapped(bytes.begin(), bytes.end());
    for (std::size_t i = 0; i + unit <= swapped.size(); i += unit) {
        std::reverse(swapped.begin() + static_cast<std::ptrdiff_t>(i),
                     swapped.begin() + static_cast<std::ptrdiff_t>(i + unit));
    }
    return swapped;
}

void integers(std::uint64_t pattern, std::uint32_t bits) {
    const std::int64_t twos = decode_twos_complement(pattern, bits);
    const std::int64_t ones = decode_ones_complement(pattern, bits);
    (void)decode_sign_magnitude(pattern, bits);
    if (bits >= 1 && bits <= 63) {
        // A pattern held to the field decodes into the field's range, in every encoding.
        const std::uint64_t field = pattern & low_mask(bits);
        const auto half = static_cast<std::int64_t>(power_of_two(bits - 1));
        const std::int64_t value = decode_twos_complement(field, bits);
        require(value >= -half && value < half, "two's complement of a held pattern out of range");
        const std::int64_t ones_value = decode_ones_complement(field, bits);
        require(ones_value > -half && ones_value < half, "ones' complement of a held pattern out of range");
        if (bits >= 2) {
            const std::int64_t magnitude = decode_sign_magnitude(field, bits);
            require(magnitude > -half && magnitude < half, "sign-magnitude of a held pattern out of range");
        }
        // Bits above the field do not change the two's complement reading.
        require(value == twos || (pattern >> bits) != 0, "bits above the field change the two's complement reading");
    } else if (bits >= 64) {
        require(twos == static_cast<std::int64_t>(pattern), "a wide two's complement field is not its pattern");
        require(ones == static_cast<std::int64_t>(pattern) + (bit_set(pattern, 63) ? 1 : 0),
                "a wide ones' complement field is not its pattern plus its sign");
    }
}

void mirrors(std::uint64_t pattern, std::uint32_t bits) {
    const std::uint64_t mirrored = mirror_low_bits(pattern, bits);
    require(mirror_low_bits(mirrored, bits) == (pattern & low_mask(bits)), "a mirror does not undo itself");
    require(std::popcount(mirrored) == std::popcount(pattern & low_mask(bits)), "a mirror changes the bits set");
    if (bits <= 64) require(mirror_field_pattern(pattern, bits) == mirrored, "the two mirrors differ within 64 bits");
}

// The bytes packing writes for a field, cut to a destination of any length, in both orders.
void field_bytes(std::uint64_t pattern, std::uint32_t bits, bool reverse_bits, bool little, std::uint32_t cut) {
    const FieldBytes field = encode_integer_to_bytes(pattern, bits, reverse_bits);
    require(field.size == (std::uint64_t{bits} + 7) / 8, "the field bytes are not ceil(bits / 8)");
    require(field.window_size <= field.window.size() && field.window_offset + field.window_size <= field.size,
            "the field window lies outside the field");
    // Never more than a few pages, however wide the field: the check is on placement.
    const std::uint64_t length = std::min<std::uint64_t>(field.size, cut % 4096);
    std::vector<std::uint8_t> destination(length, 0xA5);
    store_field_bytes(field, little, destination);
    for (std::uint64_t k = 0; k < length; ++k) {
        require(destination[k] == field.at(little ? field.size - 1 - k : k), "a byte is not where FieldBytes says");
    }
}

// The relations between the text decoders; that each answers, and keeps its form's promise,
// is shown by the table's rows.
void texts(ByteSpan bytes) {
    const Result<DecodedText> utf8 = decode_utf8(bytes);
    require(static_cast<bool>(utf8) == scan_utf8(bytes).valid, "decode_utf8 accepts differently from scan_utf8");
    if (utf8) require(characters(*utf8).size() <= bytes.size(), "decode_utf8 gives more characters than bytes");

    const Result<DecodedText> ascii = decode_us_ascii(bytes);
    require(static_cast<bool>(ascii) == (first_non_ascii(bytes) == bytes.size()),
            "decode_us_ascii accepts differently from first_non_ascii");
    if (ascii) require_same(ascii, utf8);

    const DecodedText latin = decode_iso_8859_1(bytes);
    require(characters(latin) == std::u32string(bytes.begin(), bytes.end()), "ISO-8859-1 is not a byte a character");

    // Little-endian input is big-endian input with each unit's bytes swapped.
    if (bytes.size() % 2 == 0) {
        require_same(decode_utf16_with_endianness(bytes, true),
                     decode_utf16_with_endianness(swap_units(bytes, 2), false));
    }
    if (bytes.size() % 4 == 0) {
        require_same(decode_utf32_with_endianness(bytes, true),
                     decode_utf32_with_endianness(swap_units(bytes, 4), false));
    }

    const Result<DecodedText> single = decode_windows_1252(bytes);
    const bool marked = (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) ||
                        (bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) ||
                                               (bytes[0] == 0xFE && bytes[1] == 0xFF)));
    // Without a byte order mark every byte string decodes, one character per byte.
    if (!marked) {
        require(single && characters(*single).size() == bytes.size(),
                "windows-1252 without a mark is not one character per byte");
    }
}

// Every row of the table answers whatever it is handed: a value, or a failure that says
// what is wrong.
void through_table(std::uint64_t pattern, std::uint32_t bits, ByteSpan text) {
    for (const Codec& codec : codecs) {
        if (codec.decode != nullptr) {
            (void)codec.decode(pattern, bits);
        } else if (codec.decode_checked != nullptr) {
            const Result<std::uint64_t> word = codec.decode_checked(pattern, bits);
            if (!word && word.error().message.empty()) check::fail(std::string(codec.name) + " fails silently");
        } else if (codec.decode_text != nullptr) {
            check_text(codec.decode_text(text), codec.name);
        } else if (codec.refuse(codec.label, bits).message.empty()) {
            check::fail(std::string(codec.name) + " refuses without saying why");
        }
    }
}

// The layout rule read the slow, obvious way: the field's bytes in field order (a
// little-endian field's from its end backwards), the first eight of them as one big-endian
// number, and of that the field's bits, or their mirror (bit i mod 64 of the number lands on
// bit (bits-1-i) mod 64, for every i below the width).
std::uint64_t rule_pattern(const std::vector<std::uint8_t>& in_field_order, std::uint32_t bits, bool reverse_bits) {
    std::uint64_t number = 0;
    for (std::size_t k = 0; k < in_field_order.size() && k < 8; ++k) number = (number << 8) | in_field_order[k];
    std::uint64_t pattern = 0;
    for (std::uint64_t i = 0; i < bits; ++i) {
        const std::uint64_t bit = (number >> (i % 64)) & 1;
        if (reverse_bits) {
            pattern |= bit << ((bits - 1 - i) % 64);
        } else if (i < 64) {
            pattern |= bit << i;
        }
    }
    return pattern;
}

// A field cut out of the packet as the unpacking walk cuts it, read by the shipped layout
// code, checked against the rule, and decoded by every row.
void read_field(ByteSpan packet, std::uint64_t position, std::uint32_t bits, bool little, bool reverse_bits) {
    const FieldSpan span = field_span(position, bits);
    // position / 8 and the width in bytes are far below 2^63 here, so the sum cannot wrap.
    const bool fits = span.first + span.size <= packet.size();
    if (!require(span.inside(packet.size()) == fits, "FieldSpan::inside is wrong") || !fits) return;
    const ByteSpan field = packet.subspan(span.first, span.size);
    std::vector<std::uint8_t> in_field_order(field.begin(), field.end());
    if (little) std::reverse(in_field_order.begin(), in_field_order.end());

    const std::uint64_t pattern = read_field_pattern(field, bits, little, reverse_bits);
    if (pattern != rule_pattern(in_field_order, bits, reverse_bits)) {
        check::fail("read_field_pattern(" + std::to_string(bits) + " bits, " + (little ? "little" : "big") +
                        (reverse_bits ? ", mirrored" : "") + ") gives " + check::hex(pattern) + ", the rule " +
                        check::hex(rule_pattern(in_field_order, bits, reverse_bits)),
                    field);
    }
    std::vector<std::uint8_t> scratch;
    const ByteSpan text = text_field_bytes(field, little, scratch);
    require(std::equal(text.begin(), text.end(), in_field_order.begin(), in_field_order.end()),
            "text_field_bytes are not the field's bytes in field order", field);
    through_table(pattern, bits, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const auto pattern = input.take<std::uint64_t>();
    const std::uint32_t bits = fuzz::width_from(input.take<std::uint32_t>());
    const auto high = input.take<std::uint64_t>();
    const auto cut = input.take<std::uint32_t>();
    const ByteSpan bytes = input.rest();
    const bool reverse_bits = (high & 1) != 0;
    const bool little = (high & 2) != 0;

    integers(pattern, bits);
    mirrors(pattern, bits);
    (void)decode_ieee754_f128(high, pattern);
    field_bytes(pattern, bits, reverse_bits, little, cut);
    texts(bytes);
    through_table(pattern, bits, bytes);

    // The rest of the input is the packet; a field starts anywhere in it or a little past
    // its end, at the width given and at that width cut down to what is left of the packet,
    // so that wide fields are read as well as refused.
    const std::uint64_t position = (high >> 2) % (8 * std::uint64_t{bytes.size()} + 64);
    read_field(bytes, position, bits, little, reverse_bits);
    if (position / 8 <= bytes.size()) {
        const std::uint64_t room = 8 * (std::uint64_t{bytes.size()} - position / 8);
        if (bits > room) {
            read_field(bytes, position, static_cast<std::uint32_t>(bits % (room + 1)), little, reverse_bits);
        }
    }
    return check::fuzz_verdict();
}
