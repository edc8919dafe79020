// Reading one recipe entry: its keys, their conversions, and the names it selects.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/result.hpp"
#include "module/convert.hpp"
#include "module/ref.hpp"
#include "recipe/encoding_names.hpp"

namespace telbit {

// The keys an entry is read with, created once when the module is set up.
[[nodiscard]] bool init_recipe_keys();

// The keys in reading order.
enum KeyIndex : std::size_t {
    name_key_index,
    encoding_key_index,
    bits_key_index,
    byte_order_key_index,
    reverse_bits_key_index,
    offset_bits_key_index,
    key_count
};

// The interned key objects, in KeyIndex order.
extern std::array<PyObject*, key_count> recipe_key_objects;

// Where a key other than the interned object itself belongs: its KeyIndex, or key_count for
// a key the reader ignores. `key` is an exact str.
[[nodiscard]] std::size_t find_key_index(PyObject* key) noexcept;

struct Entry {
    // The text values, borrowed from the entry: valid while no Python code can run. A reader
    // that lets Python code run while they are in use keeps them in an EntryHold.
    PyObject* name = nullptr;
    PyObject* encoding = nullptr;
    PyObject* byte_order = nullptr;
    std::uint32_t bits = 0;
    bool reverse_bits = false;
    bool has_offset = false;
    std::uint64_t offset = 0;
};

// Strong references to an entry's texts.
class EntryHold {
public:
    void hold(const Entry& entry) {
        if (!refs_[0]) refs_ = {Ref::borrow(entry.name), Ref::borrow(entry.encoding), Ref::borrow(entry.byte_order)};
    }
    // Set by the general reader as it goes, since converting a later key may run code that
    // drops an earlier key's value from the entry.
    void set(KeyIndex key, Ref text) {
        switch (key) {
            case name_key_index: refs_[0] = std::move(text); break;
            case encoding_key_index: refs_[1] = std::move(text); break;
            case byte_order_key_index: refs_[2] = std::move(text); break;
            default: break;  // not a text key
        }
    }

private:
    std::array<Ref, 3> refs_;  // "name", "encoding", "byte_order"
};

// An entry in its plainest form, taken in one pass over its items: every key an exact str,
// "name", "encoding" and "byte_order" ASCII exact str, "bits" and "offset_bits" exact
// non-negative ints below 2^30, "reverse_bits" True or False. Nothing here can run Python code
// (exact str keys compare without calling any __eq__), so the values are borrowed. False when
// the entry is anything else, missing keys included: read_entry then reads it by the general
// rules and finds the error, if there is one. An entry with more items than the six keys is
// left to read_entry too, which looks the six up: a pass over every item would make a field
// cost as much as the keys its entry carries besides. `item` must be a dict.
[[nodiscard]] inline bool read_plain_entry(PyObject* item, Entry& entry) noexcept {
    if (PyDict_GET_SIZE(item) > static_cast<Py_ssize_t>(key_count)) return false;
    std::array<PyObject*, key_count> values{};
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    std::size_t ordinal = 0;
    while (PyDict_Next(item, &position, &key, &value)) {
        if (!PyUnicode_CheckExact(key)) return false;
        // Keys written as literals are the interned objects themselves, usually listed in
        // reading order.
        const std::size_t index =
            ordinal < key_count && key == recipe_key_objects[ordinal] ? ordinal : find_key_index(key);
        ++ordinal;
        if (index < key_count) values[index] = value;
    }
    const auto ascii = [](PyObject* text) {
        return text != nullptr && PyUnicode_CheckExact(text) && PyUnicode_IS_COMPACT_ASCII(text);
    };
    if (!ascii(values[name_key_index]) || !ascii(values[encoding_key_index]) ||
        !ascii(values[byte_order_key_index])) {
        return false;
    }
    long long bits = 0;
    if (values[bits_key_index] == nullptr || !small_exact_int(values[bits_key_index], bits) || bits < 0) {
        return false;
    }
    PyObject* reverse = values[reverse_bits_key_index];
    if (reverse != Py_True && reverse != Py_False) return false;
    long long offset = 0;
    PyObject* offset_value = values[offset_bits_key_index];
    if (offset_value != nullptr && (!small_exact_int(offset_value, offset) || offset < 0)) return false;
    entry.name = values[name_key_index];
    entry.encoding = values[encoding_key_index];
    entry.byte_order = values[byte_order_key_index];
    entry.bits = static_cast<std::uint32_t>(bits);  // below 2^30
    entry.reverse_bits = reverse == Py_True;
    entry.has_offset = offset_value != nullptr;
    entry.offset = static_cast<std::uint64_t>(offset);
    return true;
}

// Read every key in order: dict check, "name", "encoding", "bits", "byte_order",
// "reverse_bits", "offset_bits"; the first failure is returned. When every key of the entry
// is an exact str and no conversion can run Python code, the values are taken in one pass
// and borrowed; otherwise each key is looked up in turn and the texts go into `hold`.
[[nodiscard]] Status read_entry(PyObject* item, Entry& entry, EntryHold& hold);

// The extent of an entry as the packet's first sizing pass reads it: dict check, "bits",
// "offset_bits".
struct Extent {
    std::uint32_t bits = 0;
    bool has_offset = false;
    std::uint64_t offset = 0;
};
[[nodiscard]] Status read_extent(PyObject* item, Extent& extent);

// The UTF-8 form of a text value that the reader has converted once already: the str keeps
// that form, so this cannot fail.
[[nodiscard]] std::string_view entry_text(PyObject* text) noexcept;

// The entry's name as an exact str, for use as a dict key (a new str when the name is of a
// str subclass, whose own __hash__ or __eq__ must not be used).
[[nodiscard]] Result<Ref> name_key(const Entry& entry);

// Lower-cases and matches the "encoding" and "byte_order" texts. Recipes repeat the same
// str objects from entry to entry, so the last answer for each is kept (with a strong
// reference, so that no other object can take the same address) for the duration of one walk.
//
// Letting go of a superseded object may drop its last reference and so run Python code (a
// str subclass's __del__, a weakref callback), which may rewrite the entry whose texts the
// walk borrows at that moment. So a superseded object is only set aside while an entry is
// in use, and let go in `settle`, which the walks call once they are done with the entry.
class NameMatcher {
public:
    // The answers for the same objects as last time, without looking at the text again;
    // false when the object is another one.
    [[nodiscard]] bool repeat_encoding(PyObject* text, std::optional<Encoding>& encoding) const noexcept {
        if (text != encoding_object_.get()) return false;
        encoding = encoding_;
        return true;
    }
    [[nodiscard]] bool repeat_byte_order(PyObject* text, bool& little) const noexcept {
        if (text != byte_order_object_.get()) return false;
        little = little_;
        return true;
    }

    // The encoding the text selects (nothing when the name is unknown); an error only when
    // lower-casing itself fails.
    [[nodiscard]] Result<std::optional<Encoding>> encoding(PyObject* text);
    // Whether the byte order is "little" (true) or "big" (false), or the byte-order error.
    [[nodiscard]] Result<bool> little_endian(PyObject* text);

    // Let go of the objects superseded while the current entry was matched. May run Python
    // code: call it only where no borrowed pointer is in use any more.
    void settle() noexcept {
        retired_encoding_ = Ref();
        retired_byte_order_ = Ref();
    }

private:
    Ref encoding_object_;
    std::optional<Encoding> encoding_;
    Ref byte_order_object_;
    bool little_ = false;
    // Superseded since the last settle; each is replaced at most once per entry.
    Ref retired_encoding_;
    Ref retired_byte_order_;
};

[[nodiscard]] Error unsupported_encoding(const Entry& entry);

}  // namespace telbit
