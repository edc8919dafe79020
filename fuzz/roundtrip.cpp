// Encode then decode is the identity for every value an encoder of the table accepts that
// its width can hold, and writing a field into a packet cut anywhere puts the bytes where the
// layout rule says and touches nothing else.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/bits.hpp"
#include "core/codecs.hpp"
#include "core/field.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/unicode.hpp"
#include "fuzz/input.hpp"
#include "tests/native/check.hpp"
#include "tests/native/reference_utf8.hpp"

using namespace telbit;
using check::characters;
using check::require;

namespace {

// Whether binary16 holds `value` exactly: a whole number of its smallest steps (2^-24), with
// at most eleven significant bits, and no larger than its largest finite value.
bool binary16_holds(float value) {
    if (std::isinf(value)) return true;
    const double steps = std::fabs(static_cast<double>(value)) * 0x1p24;
    if (steps > 65504.0 * 0x1p24 || steps != std::floor(steps)) return false;
    auto significant = static_cast<std::uint64_t>(steps);
    while (significant != 0 && significant % 2 == 0) significant /= 2;
    return significant < 2048;
}

// Whether an integer row's width holds the word's value: below 2^bits unsigned, else the
// signed range of the width (without its most negative value where zero has two forms).
// The decimal rows are held to their digits by bcd_check.
bool width_holds(const Codec& codec, std::uint64_t word, std::uint32_t bits) {
    if (codec.name == "unsigned") return bits >= 64 || (word >> bits) == 0;
    if (bits == 0 || bits > 64 || (codec.name == "sign_magnitude" && bits < 2)) return false;
    const auto value = static_cast<std::int64_t>(word);
    const std::int64_t largest = bits == 64 ? std::numeric_limits<std::int64_t>::max() : (std::int64_t{1} << (bits - 1)) - 1;
    return value <= largest && value >= (codec.name == "twos_complement" ? -largest - 1 : -largest);
}

// Through every row that packs numbers: what the encoder accepts comes back from the decoder,
// wherever the width (or the float format) holds it, and an integer row accepts every value
// its width holds. The word is laid out by what the row takes, as the packing walk lays it out.
void numbers(std::uint64_t word, std::uint32_t bits) {
    for (const Codec& codec : codecs) {
        if (codec.encode_number == nullptr) continue;
        const auto fail = [&](const std::string& what) { check::fail(std::string(codec.name) + what); };
        const std::uint64_t taken = codec.takes == ValueKind::binary32 ? word & 0xFFFFFFFFu : word;
        const Result<std::uint64_t> pattern = codec.encode_number(taken, bits);
        if (!pattern) {
            if (pattern.error().message.empty()) fail(" refuses without saying why");
            if (codec.family == Family::integer && width_holds(codec, taken, bits)) {
                fail(" refuses " + check::hex(taken) + ", which " + std::to_string(bits) + " bits hold");
            }
            continue;
        }
        const Result<std::uint64_t> back = codec.decode != nullptr ? Result<std::uint64_t>(codec.decode(*pattern, bits))
                                                                    : codec.decode_checked(*pattern, bits);
        if (!back) {
            fail(" refuses its own pattern " + check::hex(*pattern) + " at " + std::to_string(bits) +
                 " bits: " + back.error().message);
            continue;
        }
        bool same = true;
        if (codec.takes == ValueKind::binary32) {
            const float value = std::bit_cast<float>(static_cast<std::uint32_t>(taken));
            const double got = std::bit_cast<double>(*back);
            if (std::isnan(value)) {
                same = std::isnan(got);
            } else if (codec.name != "ieee754_f16" || binary16_holds(value)) {
                same = std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(static_cast<double>(value));
            }
        } else if (codec.family == Family::floating || bits != 0) {
            same = *back == taken;
        } else {
            same = *back == 0;  // a zero-width field holds nothing, whatever was accepted for it
        }
        if (!same) {
            fail(" gives " + check::hex(*back) + " back for " + check::hex(taken) + " at " + std::to_string(bits) +
                 " bits");
        }
    }
}

// Through every row that packs text, and a field of exactly the encoded size in either byte
// order, as the walks write and read it: the characters come back.
void texts(ByteSpan data, bool little) {
    if (!reference::utf8_verdict(data).valid) return;  // the interpreter hands over well-formed UTF-8 only
    const std::string_view utf8(reinterpret_cast<const char*>(data.data()), data.size());
    const std::u32string expected = reference::code_points(data);
    for (const Codec& codec : codecs) {
        if (codec.encode_text == nullptr) continue;
        const auto fail = [&](const std::string& what) { check::fail(std::string(codec.name) + what); };
        const Result<EncodedText> encoded = codec.encode_text(utf8);
        if (!encoded) {
            if (encoded.error().message.empty()) fail(" refuses without saying why");
            continue;
        }
        const std::string_view bytes = encoded->bytes();
        // windows-1252 reads a leading byte order mark as UTF-8's or UTF-16's, so a text
        // whose encoding begins like one does not come back.
        if (codec.name == "windows_1252" &&
            (bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))) {
            continue;
        }
        std::vector<std::uint8_t> packet(bytes.size());
        write_field_text(packet, 0, bytes, static_cast<std::uint32_t>(8 * bytes.size()), little);
        std::vector<std::uint8_t> scratch;
        const Result<DecodedText> back = codec.decode_text(text_field_bytes(packet, little, scratch));
        if (!back || characters(*back) != expected) {
            fail(std::string(little ? " little-endian" : "") + " does not round trip a text of " +
                 std::to_string(data.size()) + " bytes");
        }
    }
    // The marked forms begin with their big-endian mark.
    require(encode_utf16(utf8).starts_with("\xFE\xFF"), "UTF-16 does not begin with its big-endian mark");
    require(encode_utf32(utf8).starts_with(std::string_view("\x00\x00\xFE\xFF", 4)),
            "UTF-32 does not begin with its big-endian mark");
}

// Each float format through its own conversions, and the two binary16 paths against each other.
void floats(std::uint64_t pattern) {
    const auto half = static_cast<std::uint16_t>(pattern);
    const double widened = decode_ieee754_f16(half);
    const bool nan = std::isnan(widened);
    const auto quieted = static_cast<std::uint16_t>(nan ? (half | 0x200u) : half);
    require(encode_ieee754_f16(static_cast<float>(widened)) == quieted, "binary16 does not round trip");
    require(half::narrow_portable(half::widen_portable(half)) == quieted, "portable binary16 does not round trip");
    const auto single = static_cast<std::uint32_t>(pattern);
    const double wide = decode_ieee754_f32(single);
    if (!std::isnan(wide)) {
        require(encode_ieee754_f32(round_to_binary32(wide)) == single, "binary32 does not round trip");
    }
    require(encode_ieee754_f64(decode_ieee754_f64(pattern)) == pattern, "binary64 does not round trip");
    const float value = std::bit_cast<float>(single);
    if (half::hardware_available()) {
        require(half::narrow_hardware(value) == half::narrow_portable(value), "the two binary16 narrowings differ");
    }
}

// Bit `position` of a field's bytes read as one number (bit 0 is the last byte's lowest).
bool field_bit(const FieldBytes& field, std::uint64_t position) {
    return ((field.at(field.size - 1 - position / 8) >> (position % 8)) & 1U) != 0;
}

// The bytes encode_integer_to_bytes describes for a field read back as the pattern.
void bytes_of_patterns(std::uint64_t pattern, std::uint32_t bits, bool reverse) {
    const FieldBytes field = encode_integer_to_bytes(pattern, bits, reverse);
    require(field.size == (std::uint64_t{bits} + 7) / 8, "the field bytes are not ceil(bits / 8)");
    if (bits == 0) return;
    if (bits > 64) {
        // A wide field holds the pattern right-aligned, or mirrored across the whole width
        // (pattern bit i on field bit bits-1-i), and nothing else.
        int set = 0;
        for (std::uint64_t i = 0; i < 64; ++i) {
            const std::uint64_t position = reverse ? std::uint64_t{bits} - 1 - i : i;
            require(field_bit(field, position) == bit_set(pattern, i), "a wide field bit is not the pattern's");
        }
        for (std::uint32_t w = 0; w < field.window_size; ++w) set += std::popcount(field.window[w]);
        require(set == std::popcount(pattern), "a wide field holds bits the pattern does not have");
        return;
    }
    std::uint64_t accumulator = 0;
    for (std::uint64_t k = 0; k < field.size; ++k) accumulator = (accumulator << 8) | field.at(k);
    const std::uint64_t back = reverse ? mirror_field_pattern(accumulator, bits) : accumulator & low_mask(bits);
    require(back == (pattern & low_mask(bits)), "the field bytes do not read back as the pattern");
}

// Byte k of a numeric field as the layout rule writes it, k counted in packet order. The
// field's bits are numbered from the least significant bit of its last byte (in big-endian
// order); bit b holds pattern bit b, or when mirrored pattern bit bits-1-b, and nothing past
// bit 63 of the pattern. A little-endian field is the big-endian one reversed end for end.
std::uint8_t rule_byte(std::uint64_t pattern, std::uint32_t bits, bool little, bool reverse_bits, std::uint64_t k) {
    const std::uint64_t size = (std::uint64_t{bits} + 7) / 8;
    const std::uint64_t from_end = little ? k : size - 1 - k;
    const auto pattern_bit = [&](std::uint64_t i) { return i < 64 && ((pattern >> i) & 1) != 0; };
    unsigned byte = 0;
    for (unsigned j = 0; j < 8; ++j) {
        const std::uint64_t b = 8 * from_end + j;
        const bool set = reverse_bits ? b < bits && pattern_bit(std::uint64_t{bits} - 1 - b) : pattern_bit(b);
        byte |= (set ? 1u : 0u) << j;
    }
    return static_cast<std::uint8_t>(byte);
}

// A pattern and a text written at byte `first` of a packet of `length` bytes (an exact
// allocation, so that AddressSanitizer sees a write past it). Every byte must end up as the
// rule says: inside the field and the packet, the field's bytes (a text's for as long as it
// lasts); elsewhere the fill. Two fills, so that no stray write can pass for either.
void writes(std::uint64_t pattern, std::uint32_t bits, bool little, bool reverse_bits, ByteSpan text,
            std::uint64_t first, std::uint64_t length) {
    const std::uint64_t size = (std::uint64_t{bits} + 7) / 8;
    std::vector<std::uint8_t> reversed_text(text.rbegin(), text.rend());
    const ByteSpan text_in_order = little ? ByteSpan(reversed_text) : text;
    const std::string_view text_bytes(reinterpret_cast<const char*>(text.data()), text.size());
    for (const std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        std::vector<std::uint8_t> packet(length, fill);
        write_field_pattern(packet, first, pattern, bits, little, reverse_bits);
        for (std::uint64_t at = 0; at < length; ++at) {
            const bool in_field = at >= first && at - first < size;
            const std::uint8_t expected = in_field ? rule_byte(pattern, bits, little, reverse_bits, at - first) : fill;
            if (packet[at] != expected) {
                check::fail("write_field_pattern(" + check::hex(pattern) + ", " + std::to_string(bits) + " bits, " +
                            (little ? "little" : "big") + (reverse_bits ? ", mirrored" : "") + ") at byte " +
                            std::to_string(first) + " of " + std::to_string(length) + ": byte " + std::to_string(at) +
                            " is " + check::hex(packet[at]) + ", the rule says " + check::hex(expected));
                break;
            }
        }
        // Read back where the field fits, the pattern returns (held to its width, which
        // reading keeps).
        if (bits <= 64 && first + size <= length) {
            const std::uint64_t back =
                read_field_pattern(ByteSpan(packet).subspan(first, size), bits, little, reverse_bits);
            if (back != (pattern & low_mask(bits))) {
                check::fail("a field of " + std::to_string(bits) + " bits written with " + check::hex(pattern) +
                            " reads back as " + check::hex(back));
            }
        }

        std::fill(packet.begin(), packet.end(), fill);
        write_field_text(packet, first, text_bytes, bits, little);
        for (std::uint64_t at = 0; at < length; ++at) {
            const bool written = at >= first && at - first < size && at - first < text.size();
            if (packet[at] != (written ? text_in_order[at - first] : fill)) {
                check::fail("write_field_text(" + std::to_string(text.size()) + " bytes, " + std::to_string(bits) +
                            " bits, " + (little ? "little" : "big") + ") at byte " + std::to_string(first) + " of " +
                            std::to_string(length) + ": byte " + std::to_string(at) + " is " + check::hex(packet[at]));
                break;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const auto value = input.take<std::int64_t>();
    const std::uint32_t bits = fuzz::width_from(input.take<std::uint32_t>());
    const auto flags = input.take<std::uint8_t>();
    const auto place = input.take<std::uint32_t>();
    const ByteSpan rest = input.rest();
    const auto pattern = static_cast<std::uint64_t>(value);
    const bool reverse_bits = (flags & 1) != 0;
    const bool little = (flags & 2) != 0;

    numbers(pattern, bits);
    // A random 64-bit value rarely fits a narrower field. Its top bits, sign-extended, fit as
    // two's complement (the range's ends included when the fuzzer sets them all); small
    // values reach the BCD layouts; a widened binary16 is one that binary16 holds.
    if (bits >= 1 && bits <= 63) numbers(static_cast<std::uint64_t>(value >> (64 - bits)), bits);
    numbers(static_cast<std::uint64_t>(value % 100000), bits);
    numbers(std::bit_cast<std::uint32_t>(static_cast<float>(decode_ieee754_f16(pattern))), bits);
    floats(pattern);
    bytes_of_patterns(pattern, bits, reverse_bits);
    texts(rest, little);

    // The field starts in the first 32 bytes; the packet ends past the field half the time,
    // else anywhere before its end (or before its start). Never more than a few pages,
    // however wide the field: what is checked is placement.
    const std::uint64_t first = place % 32;
    const std::uint64_t reach = std::min<std::uint64_t>(first + (std::uint64_t{bits} + 7) / 8, 4096);
    const std::uint64_t length = (place & 0x100) != 0 ? reach + (place >> 9) % 8 : (place >> 9) % (reach + 1);
    writes(pattern, bits, little, reverse_bits, rest, first, length);
    return check::fuzz_verdict();
}
