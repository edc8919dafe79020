// build_packet: sizes the packet from the recipe, then encodes each value into its field.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "core/bcd.hpp"
#include "core/bits.hpp"
#include "core/charsets.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/unicode.hpp"
#include "recipe/entry.hpp"
#include "recipe/walk.hpp"

namespace telbit {
namespace {

// A field's encoded form: an integer-class pattern already turned into bytes, or text bytes.
struct EncodedText {
    std::string owned;
    std::string_view borrowed;  // the str's own UTF-8 form, kept alive by the caller
    bool is_owned = false;

    // Computed on use: a view into `owned` taken earlier would dangle once the value moves
    // (short strings live inside the object).
    [[nodiscard]] std::string_view bytes() const noexcept { return is_owned ? std::string_view(owned) : borrowed; }
};
Result<EncodedText> from_text_bytes(std::string bytes) {
    EncodedText text;
    text.owned = std::move(bytes);
    text.is_owned = true;
    return text;
}

Result<EncodedText> from_text_bytes(Result<std::string> bytes) {
    if (!bytes) return std::move(bytes).error();
    return from_text_bytes(std::move(*bytes));
}

Result<EncodedText> encode_text(Encoding encoding, PyObject* value) {
    Result<std::string_view> text = to_text(value);
    if (!text) return std::move(text).error();
    switch (encoding) {
        case Encoding::utf8: {
            EncodedText view;
            view.borrowed = std::string_view(text->data(), text->size());
            return view;
        }
        case Encoding::utf16: return from_text_bytes(encode_utf16(*text));
        case Encoding::utf32: return from_text_bytes(encode_utf32(*text));
        case Encoding::utf16le: return from_text_bytes(encode_utf16le(*text));
        case Encoding::utf16be: return from_text_bytes(encode_utf16be(*text));
        case Encoding::utf32le: return from_text_bytes(encode_utf32le(*text));
        case Encoding::utf32be: return from_text_bytes(encode_utf32be(*text));
        case Encoding::us_ascii: return from_text_bytes(encode_us_ascii(*text));
        case Encoding::latin1:
        case Encoding::iso_8859_1: return from_text_bytes(encode_iso_8859_1(*text));
        case Encoding::windows_1252: return from_text_bytes(encode_windows_1252(*text));
        default: break;
    }
    return value_error("internal error: not a text encoding");
}

// The raw pattern of an integer-class field.
Result<std::uint64_t> encode_number(Encoding encoding, const Entry& entry, PyObject* value) {
    const auto signed_pattern = [&](auto encoder) -> Result<std::uint64_t> {
        Result<std::int64_t> number = to_i64(value);
        if (!number) return std::move(number).error();
        return encoder(*number);
    };
    switch (encoding) {
        case Encoding::unsigned_integer: {
            Result<std::uint64_t> number = to_u64(value);
            if (!number) return std::move(number).error();
            if (Status status = check_unsigned_range(*number, entry.bits); !status) return std::move(status).error();
            return *number;
        }
        case Encoding::twos_complement:
            return signed_pattern([&](std::int64_t v) { return encode_twos_complement(v, entry.bits); });
        case Encoding::ones_complement:
            return signed_pattern([&](std::int64_t v) { return encode_ones_complement(v, entry.bits); });
        case Encoding::sign_magnitude:
            return signed_pattern([&](std::int64_t v) { return encode_sign_magnitude(v, entry.bits); });
        case Encoding::packed_bcd:
            return signed_pattern([&](std::int64_t v) { return encode_packed_bcd(v, entry.bits, false); });
        case Encoding::packed_bcd_signed:
            return signed_pattern([&](std::int64_t v) { return encode_packed_bcd(v, entry.bits, true); });
        case Encoding::unpacked_bcd:
            return signed_pattern([&](std::int64_t v) { return encode_unpacked_bcd(v, entry.bits, false); });
        case Encoding::unpacked_bcd_signed:
            return signed_pattern([&](std::int64_t v) { return encode_unpacked_bcd(v, entry.bits, true); });
        case Encoding::ieee754_f16:
        case Encoding::ieee754_f32: {
            Result<float> number = to_f32(value);
            if (!number) return std::move(number).error();
            return encoding == Encoding::ieee754_f16 ? encode_ieee754_f16(*number) : encode_ieee754_f32(*number);
        }
        case Encoding::ieee754_f64: {
            Result<double> number = to_f64(value);
            if (!number) return std::move(number).error();
            return encode_ieee754_f64(*number);
        }
        default: break;
    }
    return value_error("internal error: not a numeric encoding");
}

// Write an integer-class field's pattern at byte `first`: ceil(bits / 8) bytes, most
// significant first (reversed for little-endian), cut at the end of the packet.
void store_number(std::uint64_t pattern, const Entry& entry, bool little, std::uint64_t first,
                  std::span<std::uint8_t> packet) {
    if (first >= packet.size()) return;
    const std::uint64_t room = packet.size() - first;
    const std::uint64_t field_size = (std::uint64_t{entry.bits} + 7) / 8;
    const std::uint64_t count = std::min(room, field_size);
    if (entry.bits > 64) {
        store_field_bytes(encode_integer_to_bytes(pattern, entry.bits, entry.reverse_bits), little,
                          packet.subspan(first, count));
        return;
    }
    const std::uint64_t value = entry.reverse_bits ? mirror_low_bits(pattern, entry.bits) : pattern;
    std::uint8_t* target = packet.data() + first;
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint64_t significance = little ? k : field_size - 1 - k;  // below 8
        target[k] = static_cast<std::uint8_t>(value >> (8 * significance));
    }
}

// Write a text field's bytes at byte `first`, reversed end for end for little-endian, never
// past the field's own ceil(bits / 8) bytes nor past the end of the packet.
void store_text(std::string_view text, const Entry& entry, bool little, std::uint64_t first,
                std::span<std::uint8_t> packet) {
    if (first >= packet.size()) return;
    const std::uint64_t room = packet.size() - first;
    const std::uint64_t field_size = (std::uint64_t{entry.bits} + 7) / 8;
    const std::uint64_t count = std::min({room, field_size, std::uint64_t{text.size()}});
    std::uint8_t* target = packet.data() + first;
    if (little) {
        for (std::uint64_t k = 0; k < count; ++k) target[k] = static_cast<std::uint8_t>(text[text.size() - 1 - k]);
    } else if (count > 0) {
        std::memcpy(target, text.data(), count);
    }
}

// The packet length in bytes for `total` bits, or an error when no bytes object can hold it.
Result<Py_ssize_t> packet_length(std::uint64_t total) {
    const std::uint64_t length = total / 8 + (total % 8 != 0 ? 1 : 0);
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<Py_ssize_t>::max()) - 64;
    if (length > largest) {
        return memory_error("cannot allocate a packet of " + std::to_string(length) + " bytes");
    }
    return static_cast<Py_ssize_t>(length);
}

#if PY_VERSION_HEX < 0x030C0000
// The interpreter gives a dict a new tag, never used before, on every change to it, so an
// equal tag means unchanged contents.
constexpr bool dict_versions_known = true;
std::uint64_t dict_version(PyObject* dict) noexcept { return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag; }
#else
// Later interpreters deprecate the tag; the writing pass then reads every entry afresh.
constexpr bool dict_versions_known = false;
std::uint64_t dict_version(PyObject*) noexcept { return 0; }
#endif

// An entry as the sizing pass found it in its plain form, kept for the writing pass: when
// the entry's dict has not changed in between, the writing pass reads the same values
// again, so it takes them from here rather than from another pass over the dict.
struct PlannedEntry {
    Entry entry;
    std::uint64_t version = 0;
    bool plain = false;
};

// One call's plans, on the stack for recipes of usual length.
class Plan {
public:
    explicit Plan(std::size_t count) {
        if (count > local_capacity) {
            heap_ = std::make_unique<PlannedEntry[]>(count);
            slots_ = heap_.get();
        }
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
    ~Plan() = default;  // PlannedEntry needs no destruction: it owns nothing

    // The sizing pass creates every slot, in order, before the writing pass reads any.
    PlannedEntry& create(std::size_t i) noexcept { return *new (&slots_[i]) PlannedEntry; }
    [[nodiscard]] const PlannedEntry& operator[](std::size_t i) const noexcept { return slots_[i]; }

private:
    static constexpr std::size_t local_capacity = 32;
    union {
        PlannedEntry local_[local_capacity];  // left uninitialised until create()
    };
    std::unique_ptr<PlannedEntry[]> heap_;
    PlannedEntry* slots_ = local_;
};
static_assert(std::is_trivially_destructible_v<PlannedEntry>);

}  // namespace

Result<Ref> build_packet(ItemView recipe, PyObject* values) {
    const auto count = static_cast<std::size_t>(recipe.count);
    Plan plan(count);
    // First pass: the packet's size. An entry without an offset is counted from the
    // furthest end reached so far.
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* item = recipe.items[i];
        PlannedEntry& planned = plan.create(i);
        Extent extent;
        if (dict_versions_known && PyDict_Check(item) && read_plain_entry(item, planned.entry)) {
            // Reading the whole entry here is not observable: it runs no code and cannot fail.
            planned.plain = true;
            planned.version = dict_version(item);
            extent.bits = planned.entry.bits;
            extent.has_offset = planned.entry.has_offset;
            extent.offset = planned.entry.offset;
        } else if (Status status = read_extent(item, extent); !status) {
            return std::move(status).error();
        }
        const std::uint64_t start = extent.has_offset ? extent.offset : total;
        total = std::max(total, start + extent.bits);
    }
    Result<Py_ssize_t> length = packet_length(total);
    if (!length) return std::move(length).error();
    Ref packet = Ref::steal(PyBytes_FromStringAndSize(nullptr, *length));
    if (!packet) {
        if (!PyErr_ExceptionMatches(PyExc_MemoryError)) return already_raised();
        PyErr_Clear();
        return memory_error("cannot allocate a packet of " + std::to_string(*length) + " bytes");
    }
    const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(packet.get())),
                                        static_cast<std::size_t>(*length));
    std::memset(bytes.data(), 0, bytes.size());

    // Second pass: each value converted and written at its field.
    std::uint64_t running = 0;
    NameMatcher names;
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* item = recipe.items[i];
        Entry entry;
        EntryHold hold;
        if (const PlannedEntry& planned = plan[i]; planned.plain && dict_version(item) == planned.version) {
            entry = planned.entry;
        } else if (!PyDict_Check(item) || !read_plain_entry(item, entry)) {
            if (Status status = read_entry(item, entry, hold); !status) return std::move(status).error();
        }
        // Looking the value up and converting it may run Python code that changes the entry.
        hold.hold(entry);
        PyObject* found = nullptr;
        if (PyUnicode_CheckExact(entry.name)) {
            found = PyDict_GetItemWithError(values, entry.name);
        } else {
            Result<Ref> key = name_key(entry);
            if (!key) return std::move(key).error();
            found = PyDict_GetItemWithError(values, key->get());
        }
        if (found == nullptr) {
            if (PyErr_Occurred()) return already_raised();
            std::string message = "Missing value for parameter: '";
            message += entry_text(entry.name);
            message += "'";
            return key_error(std::move(message));
        }
        const Ref value = Ref::borrow(found);  // converting it may run code that changes `values`
        const std::uint64_t start = entry.has_offset ? entry.offset : running;

        std::optional<Encoding> encoding;
        if (!names.repeat_encoding(entry.encoding, encoding)) {
            Result<std::optional<Encoding>> matched = names.encoding(entry.encoding);
            if (!matched) return std::move(matched).error();
            encoding = *matched;
        }
        if (!encoding || !is_packable(*encoding)) return unsupported_encoding(entry);
        if (is_text_encoding(*encoding)) {
            Result<EncodedText> text = encode_text(*encoding, value.get());
            if (!text) return std::move(text).error();
            bool little = false;
            if (!names.repeat_byte_order(entry.byte_order, little)) {
                Result<bool> matched = names.little_endian(entry.byte_order);
                if (!matched) return std::move(matched).error();
                little = *matched;
            }
            store_text(text->bytes(), entry, little, start / 8, bytes);
        } else {
            Result<std::uint64_t> pattern = encode_number(*encoding, entry, value.get());
            if (!pattern) return std::move(pattern).error();
            bool little = false;
            if (!names.repeat_byte_order(entry.byte_order, little)) {
                Result<bool> matched = names.little_endian(entry.byte_order);
                if (!matched) return std::move(matched).error();
                little = *matched;
            }
            store_number(*pattern, entry, little, start / 8, bytes);
        }
        running = start + entry.bits;
        names.settle();  // the entry's texts are held, but settle where no borrowed one is in use
    }
    return packet;
}

}  // namespace telbit
