// Reading one recipe entry: its keys, their conversions, and the names it selects.
#include "recipe/entry.hpp"

#include <array>
#include <string>
#include <utility>

namespace telbit {

std::array<PyObject*, key_count> recipe_key_objects{};

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

// Where an entry's values come from: looked up one at a time, in reading order. Converting
// one value may run code that changes the entry, so each value is held while it is used.
class LookupSource {
public:
    explicit LookupSource(PyObject* entry) noexcept : entry_(entry) {}
    static constexpr bool borrowed = false;
    Result<Ref> get(KeyIndex index) const { return lookup(entry_, recipe_key_objects[index]); }

private:
    PyObject* entry_;
};

// Or all taken in one pass over the entry's items. Only valid when every key is an exact
// str (so no key's own __eq__ or __hash__ can be involved) and no conversion can run Python
// code (so nothing can change the entry while it is read, and borrowed values stay valid).
class SnapshotSource {
public:
    static constexpr bool borrowed = true;
    // False when the entry does not qualify; the caller then reads by lookup.
    bool take(PyObject* entry) noexcept {
        // Past the six keys, six lookups cost less than a pass over every item.
        if (PyDict_GET_SIZE(entry) > static_cast<Py_ssize_t>(key_count)) return false;
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(entry, &position, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) return false;
            const std::size_t index = find_key_index(key);
            if (index < key_count) values_[index] = value;
        }
        // Numbers that are not plain ints, and flags that are not the bool singletons, may run
        // code while they are converted.
        const auto plain_int = [](PyObject* number) { return number == nullptr || PyLong_CheckExact(number); };
        if (!plain_int(values_[bits_key_index]) || !plain_int(values_[offset_bits_key_index])) return false;
        PyObject* reverse = values_[reverse_bits_key_index];
        return reverse == nullptr || reverse == Py_True || reverse == Py_False;
    }
    // Borrowed: the caller does not own the reference inside.
    PyObject* get_borrowed(KeyIndex index) const noexcept { return values_[index]; }

private:
    std::array<PyObject*, key_count> values_{};
};

// A value from either source, as a pointer valid for as long as the read needs it.
struct Fetched {
    PyObject* object = nullptr;
    Ref owner;  // set when the source handed over a strong reference
};

inline Result<Fetched> fetch(const LookupSource& source, KeyIndex index) {
    Result<Ref> value = source.get(index);
    if (!value) return std::move(value).error();
    Fetched fetched;
    fetched.object = value->get();
    fetched.owner = std::move(*value);
    return fetched;
}

inline Result<Fetched> fetch(const SnapshotSource& source, KeyIndex index) {
    Fetched fetched;
    fetched.object = source.get_borrowed(index);
    return fetched;
}

template <class Source>
Status read_text(const Source& source, KeyIndex index, PyObject*& object, EntryHold& hold) {
    Result<Fetched> value = fetch(source, index);
    if (!value) return std::move(value).error();
    if (value->object == nullptr) return missing(key_names[index]);
    // Converting here, once, leaves the UTF-8 form cached in the str for entry_text.
    Result<std::string_view> converted = to_text(value->object);
    if (!converted) return std::move(converted).error();
    object = value->object;
    if (!Source::borrowed) hold.set(index, std::move(value->owner));
    return ok_status;
}

template <class Source>
Status read_bits(const Source& source, std::uint32_t& bits) {
    Result<Fetched> value = fetch(source, bits_key_index);
    if (!value) return std::move(value).error();
    if (value->object == nullptr) return missing("bits");
    Result<std::uint32_t> converted = to_u32(value->object);
    if (!converted) return std::move(converted).error();
    bits = *converted;
    return ok_status;
}

template <class Source>
Status read_offset(const Source& source, bool& has_offset, std::uint64_t& offset) {
    Result<Fetched> value = fetch(source, offset_bits_key_index);
    if (!value) return std::move(value).error();
    has_offset = value->object != nullptr;
    if (!has_offset) return ok_status;
    Result<std::uint64_t> converted = to_u64(value->object);
    if (!converted) return std::move(converted).error();
    offset = *converted;
    return ok_status;
}

template <class Source>
Status read_all(const Source& source, Entry& entry, EntryHold& hold) {
    if (Status status = read_text(source, name_key_index, entry.name, hold); !status) return status;
    if (Status status = read_text(source, encoding_key_index, entry.encoding, hold); !status) return status;
    if (Status status = read_bits(source, entry.bits); !status) return status;
    if (Status status = read_text(source, byte_order_key_index, entry.byte_order, hold); !status) return status;
    Result<Fetched> reverse = fetch(source, reverse_bits_key_index);
    if (!reverse) return std::move(reverse).error();
    if (reverse->object == nullptr) return missing("reverse_bits");
    Result<bool> flag = to_flag(reverse->object);
    if (!flag) return std::move(flag).error();
    entry.reverse_bits = *flag;
    return read_offset(source, entry.has_offset, entry.offset);
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

bool init_recipe_keys() {
    for (std::size_t i = 0; i < key_count; ++i) {
        recipe_key_objects[i] = PyUnicode_InternFromString(std::string(key_names[i]).c_str());
        if (recipe_key_objects[i] == nullptr) return false;
    }
    str_lower = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), "lower");
    return str_lower != nullptr;
}

std::size_t find_key_index(PyObject* key) noexcept {
    for (std::size_t i = 0; i < key_count; ++i) {
        if (key == recipe_key_objects[i]) return i;
    }
    // Equal content in another object (a key built at run time rather than a literal).
    if (!PyUnicode_IS_COMPACT_ASCII(key)) return key_count;
    const std::string_view text(static_cast<const char*>(PyUnicode_DATA(key)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(key)));
    for (std::size_t i = 0; i < key_count; ++i) {
        if (text == key_names[i]) return i;
    }
    return key_count;
}

Status read_entry(PyObject* item, Entry& entry, EntryHold& hold) {
    if (Status status = check_dict(item); !status) return status;
    if (SnapshotSource snapshot; snapshot.take(item)) return read_all(snapshot, entry, hold);
    return read_all(LookupSource(item), entry, hold);
}

Status read_extent(PyObject* item, Extent& extent) {
    if (Status status = check_dict(item); !status) return status;
    PyObject* bits = PyDict_GetItemWithError(item, recipe_key_objects[bits_key_index]);
    if (bits == nullptr) return PyErr_Occurred() ? Status(already_raised()) : Status(missing("bits"));
    {
        const Ref held = Ref::borrow(bits);  // converting may run code that changes the entry
        Result<std::uint32_t> converted = to_u32(bits);
        if (!converted) return std::move(converted).error();
        extent.bits = *converted;
    }
    PyObject* offset = PyDict_GetItemWithError(item, recipe_key_objects[offset_bits_key_index]);
    extent.has_offset = offset != nullptr;
    if (offset == nullptr) return PyErr_Occurred() ? Status(already_raised()) : Status(ok_status);
    const Ref held = Ref::borrow(offset);
    Result<std::uint64_t> converted = to_u64(offset);
    if (!converted) return std::move(converted).error();
    extent.offset = *converted;
    return ok_status;
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

Result<Ref> name_key(const Entry& entry) {
    if (PyUnicode_CheckExact(entry.name)) return Ref::borrow(entry.name);
    const std::string_view text = entry_text(entry.name);
    Ref key = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!key) return already_raised();
    return key;
}

Result<std::optional<Encoding>> NameMatcher::encoding(PyObject* text) {
    if (text == encoding_object_.get()) return encoding_;
    std::array<char, longest_encoding_name> buffer;
    Result<std::string_view> lowered = lower_case(text, buffer);
    if (!lowered) return std::move(lowered).error();
    encoding_ = lowered->empty() ? std::nullopt : find_encoding(*lowered);
    // Set aside, not let go: see settle().
    retired_encoding_ = std::exchange(encoding_object_, Ref::borrow(text));
    return encoding_;
}

Result<bool> NameMatcher::little_endian(PyObject* text) {
    if (text == byte_order_object_.get()) return little_;
    std::array<char, 6> buffer;
    Result<std::string_view> lowered = lower_case(text, buffer);
    if (!lowered) return std::move(lowered).error();
    if (*lowered != "little" && *lowered != "big") {
        std::string message = "Invalid byte_order '";
        message += entry_text(text);
        message += "': must be 'big' or 'little'";
        return value_error(std::move(message));
    }
    little_ = *lowered == "little";
    retired_byte_order_ = std::exchange(byte_order_object_, Ref::borrow(text));
    return little_;
}

Error unsupported_encoding(const Entry& entry) {
    std::string message = "Unsupported encoding type: ";
    message += entry_text(entry.encoding);
    return value_error(std::move(message));
}

}  // namespace telbit
