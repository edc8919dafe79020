// Reading one recipe entry: its keys, their conversions, and the names it selects.
#include "recipe/entry.hpp"
#include "recipe/walk.hpp"

#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "core/format.hpp"

namespace telbit {

std::array<PyObject*, key_count> recipe_key_objects{};
InternedNames interned_names;

bool InternedNames::add(const char* name, std::uint8_t answer) {
    PyObject* text = PyUnicode_InternFromString(name);  // kept for the life of the process
    if (text == nullptr) return false;
    Slot& slot = slots_[find_index(text)];
    slot.object = text;
    slot.answer = answer;
    return true;
}

bool InternedNames::init() {
    for (std::size_t row = 0; row < codecs.size(); ++row) {
        if (!add(std::string(codecs[row].name).c_str(), static_cast<std::uint8_t>(row))) return false;
    }
    return add("big", byte_order_answers) && add("little", byte_order_answers + 1);
}

namespace {

constexpr std::array<std::string_view, key_count> key_names = {"name", "encoding", "bits", "byte_order",
                                                               "reverse_bits", "offset_bits"};

// str.lower, applied without consulting a subclass's override.
PyObject* str_lower = nullptr;

// The value stored under `key`, looked up in the dict's own storage (a subclass's
// __missing__ or __getitem__ is not consulted). An absent key gives a null Ref.
Result<Ref> lookup(PyObject* entry, PyObject* key) {
    PyObject* value = PyDict_GetItemWithError(entry, key);
    if (value == nullptr && PyErr_Occurred()) return already_raised();
    return Ref::borrow(value);
}

Error missing(std::string_view field) {
    std::string message = "Recipe missing required field: '";
    message += field;
    message += "'";
    return key_error(std::move(message));
}

// The value under `index`, held while it is used: converting it may run code that changes
// the entry. An absent key gives a null Ref.
Result<Ref> fetch(PyObject* entry, KeyIndex index) { return lookup(entry, recipe_key_objects[index]); }

Status read_text(PyObject* item, KeyIndex index, PyObject*& object, EntryHold& hold) {
    Result<Ref> value = fetch(item, index);
    if (!value) return std::move(value).error();
    if (!*value) return missing(key_names[index]);
    // Converting here, once, leaves the UTF-8 form cached in the str for entry_text.
    Result<std::string_view> converted = to_text(value->get());
    if (!converted) return std::move(converted).error();
    object = value->get();
    hold.set(index, std::move(*value));
    return ok_status;
}

Status read_bits(PyObject* item, std::uint32_t& bits) {
    Result<Ref> value = fetch(item, bits_key_index);
    if (!value) return std::move(value).error();
    if (!*value) return missing("bits");
    Result<std::uint32_t> converted = to_u32(value->get());
    if (!converted) return std::move(converted).error();
    bits = *converted;
    return ok_status;
}

Status read_offset(PyObject* item, bool& has_offset, std::uint64_t& offset) {
    Result<Ref> value = fetch(item, offset_bits_key_index);
    if (!value) return std::move(value).error();
    has_offset = static_cast<bool>(*value);
    if (!has_offset) return ok_status;
    Result<std::uint64_t> converted = to_u64(value->get());
    if (!converted) return std::move(converted).error();
    offset = *converted;
    return ok_status;
}

Status read_reverse_bits(PyObject* item, bool& reverse_bits) {
    Result<Ref> value = fetch(item, reverse_bits_key_index);
    if (!value) return std::move(value).error();
    if (!*value) return missing("reverse_bits");
    Result<bool> flag = to_flag(value->get());
    if (!flag) return std::move(flag).error();
    reverse_bits = *flag;
    return ok_status;
}

bool is_ascii(std::string_view text) noexcept {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// Lower-case `text` (the UTF-8 form of `object`) into `buffer` with str.lower() semantics.
// ASCII names are lower-cased here; others go through str.lower(), since some non-ASCII
// letters (the Kelvin sign, for one) lower-case to ASCII. Returns an empty view when the
// result cannot fit the buffer, which then matches no name.
template <std::size_t Capacity>
Result<std::string_view> lower_case(PyObject* object, std::array<char, Capacity>& buffer) {
    const std::string_view text = entry_text(object);
    if (is_ascii(text)) {
        if (text.size() > Capacity) return std::string_view{};
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            buffer[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return std::string_view(buffer.data(), text.size());
    }
    Ref lowered = Ref::steal(PyObject_CallOneArg(str_lower, object));
    if (!lowered) return already_raised();
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(lowered.get(), &size);
    if (data == nullptr) return already_raised();
    const std::string_view result(data, static_cast<std::size_t>(size));
    if (result.size() > Capacity || !is_ascii(result)) return std::string_view{};
    result.copy(buffer.data(), result.size());
    return std::string_view(buffer.data(), result.size());
}

}  // namespace

bool init_recipe_layer() {
    if (!interned_names.init()) return false;
    for (std::size_t i = 0; i < key_count; ++i) {
        recipe_key_objects[i] = PyUnicode_InternFromString(std::string(key_names[i]).c_str());
        if (recipe_key_objects[i] == nullptr) return false;
    }
    str_lower = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), "lower");
    return str_lower != nullptr;
}

std::size_t find_key_index(PyObject* key) noexcept {
    // By content, whether the key is an interned literal out of the usual order or another
    // object (a key built at run time, or read from a file): the first letter and the length
    // leave one name to compare with.
    if (!PyUnicode_IS_COMPACT_ASCII(key)) return key_count;
    const std::string_view text(static_cast<const char*>(PyUnicode_DATA(key)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(key)));
    if (text.size() < 4) return key_count;
    std::size_t candidate = key_count;
    switch (text[0]) {
        case 'n': candidate = name_key_index; break;
        case 'e': candidate = encoding_key_index; break;
        case 'b': candidate = text.size() == 4 ? bits_key_index : byte_order_key_index; break;
        case 'r': candidate = reverse_bits_key_index; break;
        case 'o': candidate = offset_bits_key_index; break;
        default: return key_count;
    }
    const std::string_view name = key_names[candidate];
    if (text.size() != name.size()) return key_count;
    return same_bytes(text.data(), name.data(), name.size()) ? candidate : key_count;
}

NameMatcher::~NameMatcher() {
    for (const LearnedKey& learned : learned_keys_) Py_XDECREF(learned.key);  // exact strs: no code runs
}

std::size_t NameMatcher::learn_key(PyObject* key, std::size_t ordinal) noexcept {
    const std::size_t index = find_key_index(key);
    if (ordinal < key_count && index < key_count) {
        // Held, so that no other object takes its address while the walk compares with it.
        // The key it replaces, when the recipe's entries do not share their keys, is an
        // exact str too: letting go of it runs no Python code.
        Py_INCREF(key);
        Py_XDECREF(learned_keys_[ordinal].key);
        learned_keys_[ordinal] = {key, index};
    }
    return index;
}

Status read_entry(PyObject* item, Entry& entry, EntryHold& hold) {
    if (Status status = check_dict(item); !status) return status;
    if (Status status = read_text(item, name_key_index, entry.name, hold); !status) return status;
    if (Status status = read_text(item, encoding_key_index, entry.encoding, hold); !status) return status;
    if (Status status = read_bits(item, entry.bits); !status) return status;
    if (Status status = read_text(item, byte_order_key_index, entry.byte_order, hold); !status) return status;
    if (Status status = read_reverse_bits(item, entry.reverse_bits); !status) return status;
    return read_offset(item, entry.has_offset, entry.offset);
}

Status read_extent(PyObject* item, Extent& extent) {
    if (Status status = check_dict(item); !status) return status;
    if (Status status = read_bits(item, extent.bits); !status) return status;
    return read_offset(item, extent.has_offset, extent.offset);
}

std::string_view entry_text(PyObject* text) noexcept {
    if (PyUnicode_IS_COMPACT_ASCII(text)) {
        return std::string_view(static_cast<const char*>(PyUnicode_DATA(text)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(text)));
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {  // not reached: the reader converted this str before
        PyErr_Clear();
        return {};
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

Result<Ref> name_key(PyObject* name) {
    if (PyUnicode_CheckExact(name)) return Ref::borrow(name);
    const std::string_view text = entry_text(name);
    Ref key = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!key) return already_raised();
    return key;
}

Result<const Codec*> NameMatcher::match_codec(PyObject* text) {
    std::array<char, longest_codec_name> buffer;
    Result<std::string_view> lowered = lower_case(text, buffer);
    if (!lowered) return std::move(lowered).error();
    return lowered->empty() ? nullptr : find_codec(*lowered);
}

Result<bool> NameMatcher::match_byte_order(PyObject* text) {
    std::array<char, 6> buffer;
    Result<std::string_view> lowered = lower_case(text, buffer);
    if (!lowered) return std::move(lowered).error();
    if (*lowered != "little" && *lowered != "big") {
        std::string message = "Invalid byte_order '";
        message += entry_text(text);
        message += "': must be 'big' or 'little'";
        return value_error(std::move(message));
    }
    return *lowered == "little";
}

Error unsupported_encoding(PyObject* encoding) {
    std::string message = "Unsupported encoding type: ";
    message += entry_text(encoding);
    return value_error(std::move(message));
}

}  // namespace telbit

namespace telbit {

void FailurePlace::record(Py_ssize_t index, PyObject* entry_item, PyObject* entry_name, const ByteSpan* packet,
                          const ByteSpan* bytes) {
    entry = index;
    item = Ref::borrow(entry_item);
    name = Ref::borrow(entry_name);  // null when it was not read
    if (packet != nullptr && bytes != nullptr) {
        has_field = true;
        first = static_cast<std::uint64_t>(bytes->data() - packet->data());
        field = *bytes;
    }
}

std::string describe_failure_place(const FailurePlace& place) {
    if (place.entry < 0) return {};
    std::string note = "recipe entry " + std::to_string(place.entry);
    // The name the walk read, or else whatever str the entry holds under "name" (the sizing
    // pass of packing reads no name).
    Ref name = Ref::borrow(place.name.get());
    if (!name && place.item && PyDict_Check(place.item.get())) {
        name = Ref::borrow(PyDict_GetItemWithError(place.item.get(), recipe_key_objects[name_key_index]));
        if (!name) PyErr_Clear();
    }
    if (name && PyUnicode_Check(name.get())) {
        // str's own repr, not a subclass's: the note must not run the recipe's code.
        Ref quoted = Ref::steal(PyUnicode_Type.tp_repr(name.get()));
        Py_ssize_t size = 0;
        const char* text = quoted ? PyUnicode_AsUTF8AndSize(quoted.get(), &size) : nullptr;
        if (text != nullptr) {
            note += " (";
            note.append(text, static_cast<std::size_t>(size));
            note += ")";
        } else {
            PyErr_Clear();
        }
    }
    if (place.has_field) {
        note += ", bytes " + std::to_string(place.first) + " to " + std::to_string(place.first + place.field.size()) +
                " of the packet";
        constexpr std::size_t shown = 16;
        for (std::size_t i = 0; i < place.field.size() && i < shown; ++i) {
            note += i == 0 ? ": " : " ";
            note += hex_byte(place.field[i]);
        }
        if (place.field.size() > shown) note += " ...";
    }
    return note;
}

}  // namespace telbit
