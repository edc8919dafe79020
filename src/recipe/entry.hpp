// Reading one recipe entry: its keys, their conversions, and the codec and byte order its
// names select. Used by the two walks; nothing here is seen by Python.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/codecs.hpp"
#include "core/result.hpp"
#include "py/convert.hpp"
#include "py/ref.hpp"

namespace telbit {

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

// The interned key objects, in KeyIndex order, made by init_recipe_layer.
extern std::array<PyObject*, key_count> recipe_key_objects;

// Where a key other than the interned object itself belongs: its KeyIndex, or key_count for
// a key the reader ignores. `key` is an exact str.
[[nodiscard]] std::size_t find_key_index(PyObject* key) noexcept;

struct Entry {
    // The text values. Borrowed from the entry: a reader that lets Python code run while
    // they are in use holds them in an EntryHold first.
    PyObject* name = nullptr;
    PyObject* encoding = nullptr;
    PyObject* byte_order = nullptr;
    std::uint32_t bits = 0;
    bool reverse_bits = false;
    bool has_offset = false;
    std::uint64_t offset = 0;
};

// Strong references to an entry's texts, for the stretches in which Python code may run.
class EntryHold {
public:
    void hold(const Entry& entry) {
        if (!refs_[0]) refs_ = {Ref::borrow(entry.name), Ref::borrow(entry.encoding), Ref::borrow(entry.byte_order)};
    }
    // Set by the general reader as it goes, since converting a later key may run code that
    // drops an earlier key's value from the entry. Each slot is set once, while empty, so
    // nothing is let go here.
    void set(KeyIndex key, Ref text) {
        switch (key) {
            case name_key_index: refs_[0] = std::move(text); break;
            case encoding_key_index: refs_[1] = std::move(text); break;
            case byte_order_key_index: refs_[2] = std::move(text); break;
            default: break;  // not a text key
        }
    }
    [[nodiscard]] bool holding() const noexcept { return static_cast<bool>(refs_[0]); }

private:
    std::array<Ref, 3> refs_;  // "name", "encoding", "byte_order"
};

// Whether the `size` bytes at `a` and `b` are equal. Names are short: up to 16 bytes, two
// loads each, overlapping in the middle, rather than a call to memcmp.
[[nodiscard]] inline bool same_bytes(const char* a, const char* b, std::size_t size) noexcept {
    const auto same = [&]<class Word>(Word) {
        Word first_a, first_b, last_a, last_b;
        std::memcpy(&first_a, a, sizeof(Word));
        std::memcpy(&first_b, b, sizeof(Word));
        std::memcpy(&last_a, a + size - sizeof(Word), sizeof(Word));
        std::memcpy(&last_b, b + size - sizeof(Word), sizeof(Word));
        return first_a == first_b && last_a == last_b;
    };
    if (size > 16) return std::memcmp(a, b, size) == 0;
    if (size >= 8) return same(std::uint64_t{});
    if (size >= 4) return same(std::uint32_t{});
    for (std::size_t i = 0; i < size; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// A slot in 0..slots-1 for an object's address, `slots` a power of two. Objects of one size
// sit at regular distances, so the address is spread by a multiplication (Fibonacci hashing)
// rather than cut.
[[nodiscard]] inline std::size_t address_hash(const void* object, std::size_t slots) noexcept {
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(object));
    return static_cast<std::size_t>((address * 0x9E3779B97F4A7C15ULL) >> 32) & (slots - 1);
}

// The encoding and byte-order names as interned strs, made once by init_recipe_layer and
// kept for the life of the process: a recipe written with literals holds these very objects,
// so its texts are matched by address alone. Read-only after initialisation.
class InternedNames {
public:
    [[nodiscard]] bool init();
    [[nodiscard]] const Codec* codec(PyObject* text, bool& found) const noexcept {
        const Slot& slot = find(text);
        found = slot.object == text;
        return found && slot.answer < codecs.size() ? &codecs[slot.answer] : nullptr;
    }
    // 0 for "big", 1 for "little", -1 for any other object.
    [[nodiscard]] int byte_order(PyObject* text) const noexcept {
        const Slot& slot = find(text);
        return slot.object == text && slot.answer >= byte_order_answers ? slot.answer - byte_order_answers : -1;
    }

private:
    static constexpr std::uint8_t byte_order_answers = 64;  // answers from here on are byte orders
    static_assert(codecs.size() < byte_order_answers);
    struct Slot {
        PyObject* object = nullptr;
        std::uint8_t answer = 0;  // a row of the codec table, or byte_order_answers + little
    };
    static constexpr std::size_t capacity = 128;  // a power of two, well above the 36 names
    static std::size_t start_of(PyObject* text) noexcept { return address_hash(text, capacity); }
    // The slot holding `text`, or the empty slot where its probe ends.
    [[nodiscard]] std::size_t find_index(PyObject* text) const noexcept {
        std::size_t i = start_of(text);
        while (slots_[i].object != nullptr && slots_[i].object != text) i = (i + 1) & (capacity - 1);
        return i;
    }
    [[nodiscard]] const Slot& find(PyObject* text) const noexcept { return slots_[find_index(text)]; }
    bool add(const char* name, std::uint8_t answer);
    std::array<Slot, capacity> slots_{};
};

extern InternedNames interned_names;

// Matches the "encoding" and "byte_order" texts: by address when they are the interned names
// (as a recipe written with literals holds them), else lower-cased (str.lower() semantics)
// and compared with the names. One per walk: it learns what a recipe that was not written
// with literals repeats from entry to entry (one reading of JSON shares its key objects among
// all its entries, but makes each value anew), so that such a recipe costs little more.
class NameMatcher {
public:
    NameMatcher() = default;
    NameMatcher(const NameMatcher&) = delete;
    NameMatcher& operator=(const NameMatcher&) = delete;
    // Lets go of the learned keys: exact strs, whose deallocation runs no Python code.
    ~NameMatcher();

    // The KeyIndex of the `ordinal`-th key of a plain entry (key_count for a key the reader
    // ignores), when it is not the interned key itself. `key` is an exact str. Runs no
    // Python code.
    [[nodiscard]] std::size_t key_index(PyObject* key, std::size_t ordinal) noexcept {
        if (ordinal < key_count && key == learned_keys_[ordinal].key) return learned_keys_[ordinal].index;
        return learn_key(key, ordinal);
    }

    // The codec the text selects (null when the name is unknown), when the text is an
    // interned name: no work.
    [[nodiscard]] static bool known_codec(PyObject* text, const Codec*& codec) noexcept {
        bool found = false;
        codec = interned_names.codec(text, found);
        return found;
    }
    // The same for the byte order: whether it is "little" (true) or "big" (false).
    [[nodiscard]] static bool known_byte_order(PyObject* text, bool& little) noexcept {
        const int interned = interned_names.byte_order(text);
        little = interned == 1;
        return interned >= 0;
    }

    // Lower-case and match any other text; an error only when lower-casing itself fails.
    [[nodiscard]] static Result<const Codec*> match_codec(PyObject* text);
    // The same for the byte order, or the byte-order error.
    [[nodiscard]] static Result<bool> match_byte_order(PyObject* text);

    // Either way, or as the text last matched when it has the same characters.
    [[nodiscard]] Status codec(PyObject* text, const Codec*& codec) {
        if (known_codec(text, codec)) return ok_status;
        if (last_codec_.same(text)) {
            codec = codecs.data() + last_codec_.answer;
            return ok_status;
        }
        Result<const Codec*> matched = match_codec(text);
        if (!matched) return std::move(matched).error();
        codec = *matched;
        if (codec != nullptr) last_codec_.keep(text, static_cast<std::size_t>(codec - codecs.data()));
        return ok_status;
    }
    [[nodiscard]] Status byte_order(PyObject* text, bool& little) {
        if (known_byte_order(text, little)) return ok_status;
        if (last_byte_order_.same(text)) {
            little = last_byte_order_.answer != 0;
            return ok_status;
        }
        Result<bool> matched = match_byte_order(text);
        if (!matched) return std::move(matched).error();
        little = *matched;
        last_byte_order_.keep(text, little ? 1 : 0);
        return ok_status;
    }

private:
    // A key seen at an ordinal, held so that its address stays its own for the walk.
    struct LearnedKey {
        PyObject* key = nullptr;
        std::size_t index = key_count;
    };
    // The characters of the last text matched by content, copied: nothing is held.
    struct LastText {
        std::array<char, longest_codec_name> characters{};
        std::size_t size = 0;  // 0: none yet
        std::size_t answer = 0;
        [[nodiscard]] bool same(PyObject* text) const noexcept {
            if (size == 0 || !PyUnicode_IS_COMPACT_ASCII(text)) return false;
            return static_cast<std::size_t>(PyUnicode_GET_LENGTH(text)) == size &&
                   same_bytes(static_cast<const char*>(PyUnicode_DATA(text)), characters.data(), size);
        }
        void keep(PyObject* text, std::size_t matched) noexcept {
            if (!PyUnicode_IS_COMPACT_ASCII(text)) return;
            const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(text));
            if (length == 0 || length > characters.size()) return;
            std::memcpy(characters.data(), PyUnicode_DATA(text), length);
            size = length;
            answer = matched;
        }
    };
    std::size_t learn_key(PyObject* key, std::size_t ordinal) noexcept;

    std::array<LearnedKey, key_count> learned_keys_{};
    LastText last_codec_;
    LastText last_byte_order_;
};

// An entry in its plainest form, taken in one pass over its items: at most the six keys, each
// an exact str; "name", "encoding" and "byte_order" ASCII exact strs, "bits" and "offset_bits"
// exact ints in range, "reverse_bits" True or False. False for anything else, missing keys
// included: read_entry then reads the entry by the general rules and finds the error, if
// there is one. (An entry with more items is left to read_entry too, whose six lookups cost
// less than a pass over every item.)
//
// Nothing here can run Python code: PyDict_Next calls nothing, and the checks only read. So
// the values are borrowed; they stay valid until the walk next reaches a point that may run
// Python code (see py/ref.hpp), which it does only once it is done with the entry, or after
// taking an EntryHold. `item` must be a dict.
[[nodiscard]] inline bool read_plain_entry(PyObject* item, Entry& entry, NameMatcher& names) noexcept {
    if (PyDict_GET_SIZE(item) > static_cast<Py_ssize_t>(key_count)) return false;
    std::array<PyObject*, key_count> values{};
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    std::size_t ordinal = 0;
    while (PyDict_Next(item, &position, &key, &value)) {
        if (!PyUnicode_CheckExact(key)) return false;
        // Keys written as literals are the interned objects themselves, usually listed in
        // reading order; keys read from a file are shared by its entries, and learned.
        const std::size_t index =
            ordinal < key_count && key == recipe_key_objects[ordinal] ? ordinal : names.key_index(key, ordinal);
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
    if (values[bits_key_index] == nullptr || !plain_u32(values[bits_key_index], entry.bits)) return false;
    PyObject* reverse = values[reverse_bits_key_index];
    if (reverse != Py_True && reverse != Py_False) return false;
    PyObject* offset = values[offset_bits_key_index];
    if (offset != nullptr && !plain_u64(offset, entry.offset)) return false;
    entry.name = values[name_key_index];
    entry.encoding = values[encoding_key_index];
    entry.byte_order = values[byte_order_key_index];
    entry.reverse_bits = reverse == Py_True;
    entry.has_offset = offset != nullptr;
    return true;
}

// Read every key by lookup, in order: dict check, "name", "encoding", "bits", "byte_order",
// "reverse_bits", "offset_bits"; the first failure is returned. Converting a key may run
// Python code (an __index__), so each value is held while it is converted and the texts end
// up in `hold`.
[[nodiscard]] Status read_entry(PyObject* item, Entry& entry, EntryHold& hold);

// An entry read by the plain rules, or else by the general ones, before which the recipe is
// copied out of the reach of the code that those may run.
[[nodiscard]] inline Status read_any_entry(PyObject* item, Entry& entry, EntryHold& hold, RecipeItems& recipe,
                                          NameMatcher& names) {
    if (PyDict_Check(item) && read_plain_entry(item, entry, names)) return ok_status;
    recipe.snapshot();
    return read_entry(item, entry, hold);
}

// The extent of an entry as the packet's sizing pass reads it: dict check, "bits",
// "offset_bits". May run Python code.
struct Extent {
    std::uint32_t bits = 0;
    bool has_offset = false;
    std::uint64_t offset = 0;
};
[[nodiscard]] Status read_extent(PyObject* item, Extent& extent);

// The UTF-8 form of a text value that a reader has converted once already: the str keeps
// that form, so this cannot fail.
[[nodiscard]] std::string_view entry_text(PyObject* text) noexcept;

// The entry's name as an exact str, for use as a dict key (a new str when the name is of a
// str subclass, whose own __hash__ or __eq__ must not be used). Makes no object that the
// garbage collector tracks.
[[nodiscard]] Result<Ref> name_key(PyObject* name);


[[nodiscard]] Error unsupported_encoding(PyObject* encoding);

}  // namespace telbit
