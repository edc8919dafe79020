// process_recipe: cuts each field out of the packet and decodes it into the result dict.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/bcd.hpp"
#include "core/bits.hpp"
#include "core/charsets.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/reserved.hpp"
#include "core/unicode.hpp"
#include "recipe/entry.hpp"
#include "recipe/walk.hpp"

namespace telbit {
namespace {

// The first (up to) eight bytes of the field, in field order, read as one big-endian number.
// A little-endian field's bytes are taken from the end of its span backwards, so that no
// copy of the field is needed.
std::uint64_t accumulate(ByteSpan span, bool little) noexcept {
    const std::size_t used = std::min<std::size_t>(span.size(), 8);
    std::uint64_t accumulator = 0;
    if (little) {
        for (std::size_t i = 0; i < used; ++i) accumulator = (accumulator << 8) | span[span.size() - 1 - i];
    } else {
        for (std::size_t i = 0; i < used; ++i) accumulator = (accumulator << 8) | span[i];
    }
    return accumulator;
}

// The field value V: the accumulator masked to the field, or mirrored within it.
std::uint64_t field_value(std::uint64_t accumulator, std::uint32_t bits, bool reverse_bits) noexcept {
    if (reverse_bits) return mirror_field_pattern(accumulator, bits);
    return accumulator & low_mask(bits);
}

PyObject* new_int(std::int64_t value) { return PyLong_FromLongLong(value); }

Result<Ref> owned(PyObject* object) {
    if (object == nullptr) return already_raised();
    return Ref::steal(object);
}

Result<Ref> from_signed(const Result<std::int64_t>& value) {
    if (!value) return value.error();
    return owned(new_int(*value));
}

Result<Ref> from_text(const Result<DecodedText>& text) {
    if (!text) return text.error();
    return owned(new_text(*text));
}

Result<Ref> decode_text(Encoding encoding, ByteSpan field) {
    switch (encoding) {
        case Encoding::utf8: return from_text(decode_utf8(field));
        case Encoding::utf16: return from_text(decode_utf16(field));
        case Encoding::utf32: return from_text(decode_utf32(field));
        case Encoding::utf16le: return from_text(decode_utf16_with_endianness(field, true));
        case Encoding::utf16be: return from_text(decode_utf16_with_endianness(field, false));
        case Encoding::utf32le: return from_text(decode_utf32_with_endianness(field, true));
        case Encoding::utf32be: return from_text(decode_utf32_with_endianness(field, false));
        case Encoding::us_ascii: return from_text(decode_us_ascii(field));
        case Encoding::latin1:
        case Encoding::iso_8859_1: return owned(new_text(decode_iso_8859_1(field)));
        case Encoding::windows_1252: return from_text(decode_windows_1252(field));
        default: break;
    }
    return value_error("internal error: not a text encoding");
}

// A text field's bytes in field order: the span itself, or its reversal in `scratch`.
ByteSpan text_field(ByteSpan span, bool little, std::vector<std::uint8_t>& scratch) {
    if (!little) return span;
    scratch.assign(span.rbegin(), span.rend());
    return ByteSpan(scratch.data(), scratch.size());
}

Result<Ref> decode_number(Encoding encoding, std::uint64_t value, std::uint32_t bits) {
    switch (encoding) {
        case Encoding::unsigned_integer: return owned(PyLong_FromUnsignedLongLong(value));
        case Encoding::twos_complement: return owned(new_int(decode_twos_complement(value, bits)));
        case Encoding::ones_complement: return owned(new_int(decode_ones_complement(value, bits)));
        case Encoding::sign_magnitude: return owned(new_int(decode_sign_magnitude(value, bits)));
        case Encoding::packed_bcd: return from_signed(decode_packed_bcd(value, bits, false));
        case Encoding::packed_bcd_signed: return from_signed(decode_packed_bcd(value, bits, true));
        case Encoding::unpacked_bcd: return from_signed(decode_unpacked_bcd(value, bits, false));
        case Encoding::unpacked_bcd_signed: return from_signed(decode_unpacked_bcd(value, bits, true));
        case Encoding::ieee754_f16: return owned(PyFloat_FromDouble(decode_ieee754_f16(value)));
        case Encoding::ieee754_f32: return owned(PyFloat_FromDouble(decode_ieee754_f32(value)));
        case Encoding::ieee754_f64: return owned(PyFloat_FromDouble(decode_ieee754_f64(value)));
        case Encoding::ieee754_f128:
            if (bits > 64) {
                return value_error(
                    "IEEE 754 f128 requires special handling for >64 bits (not yet implemented in process_recipe)");
            }
            // Storing 0.0 for a field that holds a value would be a silent wrong answer.
            return value_error("IEEE 754 f128 requires a 128-bit field, got " + std::to_string(bits) + " bits");
        case Encoding::ti_f32: return reserved_decode_error(ReservedFormat::ti_f32);
        case Encoding::ti_f40: return reserved_decode_error(ReservedFormat::ti_f40);
        case Encoding::dec_f32: return reserved_decode_error(ReservedFormat::dec_f32);
        case Encoding::dec_f64: return reserved_decode_error(ReservedFormat::dec_f64);
        case Encoding::ibm_f32: return reserved_decode_error(ReservedFormat::ibm_f32);
        case Encoding::ibm_f64: return reserved_decode_error(ReservedFormat::ibm_f64);
        case Encoding::ieee754_1985_f32: return reserved_decode_error(ReservedFormat::ieee754_1985_f32);
        case Encoding::ieee754_1985_f64: return reserved_decode_error(ReservedFormat::ieee754_1985_f64);
        case Encoding::ieee754_1985_f80: return reserved_decode_error(ReservedFormat::ieee754_1985_f80);
        case Encoding::mil_std_1750a_f32: return reserved_decode_error(ReservedFormat::mil_std_1750a_f32);
        case Encoding::mil_std_1750a_f48: return reserved_decode_error(ReservedFormat::mil_std_1750a_f48);
        default: break;
    }
    return value_error("internal error: not a numeric encoding");
}

// The object of a numeric field whose conversion cannot fail, made directly; nullptr for
// the other encodings (and, with the interpreter's error set, when it cannot allocate).
PyObject* new_plain_number(Encoding encoding, std::uint64_t value, std::uint32_t bits, bool& handled) {
    handled = true;
    switch (encoding) {
        case Encoding::unsigned_integer: return PyLong_FromUnsignedLongLong(value);
        case Encoding::twos_complement: return new_int(decode_twos_complement(value, bits));
        case Encoding::ones_complement: return new_int(decode_ones_complement(value, bits));
        case Encoding::sign_magnitude: return new_int(decode_sign_magnitude(value, bits));
        case Encoding::ieee754_f16: return PyFloat_FromDouble(decode_ieee754_f16(value));
        case Encoding::ieee754_f32: return PyFloat_FromDouble(decode_ieee754_f32(value));
        case Encoding::ieee754_f64: return PyFloat_FromDouble(decode_ieee754_f64(value));
        default: handled = false; return nullptr;
    }
}

Error span_error(const Entry& entry, std::uint64_t first, std::uint64_t size, std::size_t length) {
    std::string message = "Field '";
    message += entry_text(entry.name);
    message += "' needs bytes " + std::to_string(first) + " to " + std::to_string(first + size) +
               " but the packet has " + std::to_string(length) + " bytes";
    return value_error(std::move(message));
}

}  // namespace

Result<Ref> process_recipe(ByteSpan packet, std::uint64_t offset_bits, ItemView recipe) {
#if PY_VERSION_HEX < 0x030D0000
    // Sized for every entry up front, so that filling it never resizes.
    Ref result = Ref::steal(_PyDict_NewPresized(recipe.count));
#else
    // Later interpreters keep the presized constructor private.
    Ref result = Ref::steal(PyDict_New());
#endif
    if (!result) return already_raised();
    std::uint64_t running = offset_bits;
    std::vector<std::uint8_t> scratch;
    NameMatcher names;
    for (Py_ssize_t i = 0; i < recipe.count; ++i) {
        PyObject* item = recipe.items[i];
        Entry entry;
        // Needed only when the entry is read by lookup: nothing after the reading runs Python code.
        EntryHold hold;
        if (!PyDict_Check(item) || !read_plain_entry(item, entry)) {
            if (Status status = read_entry(item, entry, hold); !status) return std::move(status).error();
        }

        // Positions wrap modulo 2^64; the low three bits do not move a field.
        const std::uint64_t position = entry.has_offset ? offset_bits + entry.offset : running;
        const std::uint64_t first = position >> 3;
        const std::uint64_t size = (std::uint64_t{entry.bits} + 7) >> 3;
        if (first > packet.size() || size > packet.size() - first) {
            return span_error(entry, first, size, packet.size());
        }
        const ByteSpan span = packet.subspan(first, size);

        bool little = false;
        if (!names.repeat_byte_order(entry.byte_order, little)) {
            Result<bool> matched = names.little_endian(entry.byte_order);
            if (!matched) return std::move(matched).error();
            little = *matched;
        }
        std::optional<Encoding> encoding;
        if (!names.repeat_encoding(entry.encoding, encoding)) {
            Result<std::optional<Encoding>> matched = names.encoding(entry.encoding);
            if (!matched) return std::move(matched).error();
            encoding = *matched;
        }
        if (!encoding) return unsupported_encoding(entry);

        PyObject* object = nullptr;
        if (is_text_encoding(*encoding)) {
            Result<Ref> text = decode_text(*encoding, text_field(span, little, scratch));
            if (!text) return std::move(text).error();
            object = std::move(*text).release();
        } else {
            const std::uint64_t value = field_value(accumulate(span, little), entry.bits, entry.reverse_bits);
            bool handled = false;
            object = new_plain_number(*encoding, value, entry.bits, handled);
            if (!handled) {
                Result<Ref> number = decode_number(*encoding, value, entry.bits);
                if (!number) return std::move(number).error();
                object = std::move(*number).release();
            }
            if (object == nullptr) return already_raised();
        }
        const Ref owned_value = Ref::steal(object);
        // A plain name is an exact str already; the result dict holds only exact str keys, so
        // inserting runs no Python code.
        if (PyUnicode_CheckExact(entry.name)) {
            if (PyDict_SetItem(result.get(), entry.name, object) < 0) return already_raised();
        } else {
            Result<Ref> key = name_key(entry);
            if (!key) return std::move(key).error();
            if (PyDict_SetItem(result.get(), key->get(), object) < 0) return already_raised();
        }
        running = position + entry.bits;
        // The entry's borrowed texts are not used after this point.
        names.settle();
    }
    return result;
}

}  // namespace telbit
