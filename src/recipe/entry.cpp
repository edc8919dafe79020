// Reading one recipe entry: its keys, their conversions, and the names it selects.
#include "recipe/entry.hpp"

#include <array>
#include <string>

#include "module/convert.hpp"

namespace telbit {
namespace {

enum KeyIndex : std::size_t { name_key_index, encoding_key_index, bits_key_index, byte_order_key_index,
                               reverse_bits_key_index, offset_bits_key_index, key_count };

constexpr std::array<std::string_view, key_count> key_names = {"name", "encoding", "bits", "byte_order",
                                                               "reverse_bits", "offset_bits"};

// The interned key objects, in KeyIndex order.
std::array<PyObject*, key_count> key_objects{};

struct RecipeKeys {
    PyObject* name = nullptr;
    PyObject* encoding = nullptr;
    PyObject* bits = nullptr;
    PyObject* byte_order = nullptr;
    PyObject* reverse_bits = nullptr;
    PyObject* offset_bits = nullptr;
    PyObject* str_lower = nullptr;  // str.lower, applied without consulting a subclass's override
};
RecipeKeys keys;

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

// Where an entry's values come from: looked up one at a time, in reading order.
class LookupSource {
public:
    explicit LookupSource(PyObject* entry) noexcept : entry_(entry) {}
    static constexpr bool borrowed = false;
    Result<Ref> get(KeyIndex index) const { return lookup(entry_, key_objects[index]); }

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
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        std::size_t ordinal = 0;
        while (PyDict_Next(entry, &position, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) return false;
            const std::size_t index = key_index(key, ordinal++);
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

    // Fill the entry straight from the values when every one is of its plainest form (ASCII
    // str, small int, bool) and present; false leaves the general reading to find the error or
    // handle the rest.
    bool read_plain(Entry& entry) const noexcept {
        const auto ascii_text = [](PyObject* value, PyObject*& object, std::string_view& text) {
            if (value == nullptr || !PyUnicode_CheckExact(value) || !PyUnicode_IS_COMPACT_ASCII(value)) return false;
            object = value;
            text = std::string_view(static_cast<const char*>(PyUnicode_DATA(value)),
                                    static_cast<std::size_t>(PyUnicode_GET_LENGTH(value)));
            return true;
        };
        long long bits = 0;
        long long offset = 0;
        PyObject* offset_value = values_[offset_bits_key_index];
        if (!ascii_text(values_[name_key_index], entry.name, entry.name_text) ||
            !ascii_text(values_[encoding_key_index], entry.encoding, entry.encoding_text) ||
            !ascii_text(values_[byte_order_key_index], entry.byte_order, entry.byte_order_text) ||
            values_[bits_key_index] == nullptr || !small_exact_int(values_[bits_key_index], bits) || bits < 0 ||
            values_[reverse_bits_key_index] == nullptr ||
            (offset_value != nullptr && (!small_exact_int(offset_value, offset) || offset < 0))) {
            return false;
        }
        entry.bits = static_cast<std::uint32_t>(bits);  // below 2^30
        entry.reverse_bits = values_[reverse_bits_key_index] == Py_True;
        entry.has_offset = offset_value != nullptr;
        entry.offset = static_cast<std::uint64_t>(offset);
        return true;
    }

private:
    static std::size_t key_index(PyObject* key, std::size_t ordinal) noexcept {
        // Keys written as literals are the interned objects themselves, usually in the
        // order in which recipes list them.
        if (ordinal < key_count && key == key_objects[ordinal]) return ordinal;
        for (std::size_t i = 0; i < key_count; ++i) {
            if (key == key_objects[i]) return i;
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
Status read_text(const Source& source, KeyIndex index, PyObject*& object, Ref& holder, std::string_view& text) {
    Result<Fetched> value = fetch(source, index);
    if (!value) return std::move(value).error();
    if (value->object == nullptr) return missing(key_names[index]);
    Result<std::string_view> converted = to_text(value->object);
    if (!converted) return std::move(converted).error();
    object = value->object;
    if (!Source::borrowed) holder = std::move(value->owner);
    text = std::string_view(converted->data(), converted->size());  // member-wise: see to_text
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
Status read_all(const Source& source, Entry& entry) {
    if (Status status = read_text(source, name_key_index, entry.name, entry.held[0], entry.name_text); !status) {
        return status;
    }
    if (Status status = read_text(source, encoding_key_index, entry.encoding, entry.held[1], entry.encoding_text);
        !status) {
        return status;
    }
    if (Status status = read_bits(source, entry.bits); !status) return status;
    if (Status status =
            read_text(source, byte_order_key_index, entry.byte_order, entry.held[2], entry.byte_order_text);
        !status) {
        return status;
    }
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
Result<std::string_view> lower_case(PyObject* object, std::string_view text, std::array<char, Capacity>& buffer) {
    if (is_ascii(text)) {
        if (text.size() > Capacity) return std::string_view{};
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            buffer[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return std::string_view(buffer.data(), text.size());
    }
    Ref lowered = Ref::steal(PyObject_CallOneArg(keys.str_lower, object));
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
    const auto intern = [](const char* text) { return PyUnicode_InternFromString(text); };
    keys.name = intern("name");
    keys.encoding = intern("encoding");
    keys.bits = intern("bits");
    keys.byte_order = intern("byte_order");
    keys.reverse_bits = intern("reverse_bits");
    keys.offset_bits = intern("offset_bits");
    key_objects = {keys.name, keys.encoding, keys.bits, keys.byte_order, keys.reverse_bits, keys.offset_bits};
    keys.str_lower = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), "lower");
    return keys.name != nullptr && keys.encoding != nullptr && keys.bits != nullptr && keys.byte_order != nullptr &&
           keys.reverse_bits != nullptr && keys.offset_bits != nullptr && keys.str_lower != nullptr;
}

Status read_entry(PyObject* item, Entry& entry) {
    if (Status status = check_dict(item); !status) return status;
    if (SnapshotSource snapshot; snapshot.take(item)) {
        if (snapshot.read_plain(entry)) return ok_status;
        return read_all(snapshot, entry);
    }
    return read_all(LookupSource(item), entry);
}

Status read_extent(PyObject* item, Extent& extent) {
    if (Status status = check_dict(item); !status) return status;
    PyObject* bits = PyDict_GetItemWithError(item, keys.bits);
    if (bits == nullptr) return PyErr_Occurred() ? Status(already_raised()) : Status(missing("bits"));
    {
        const Ref held = Ref::borrow(bits);  // converting may run code that changes the entry
        Result<std::uint32_t> converted = to_u32(bits);
        if (!converted) return std::move(converted).error();
        extent.bits = *converted;
    }
    PyObject* offset = PyDict_GetItemWithError(item, keys.offset_bits);
    extent.has_offset = offset != nullptr;
    if (offset == nullptr) return PyErr_Occurred() ? Status(already_raised()) : Status(ok_status);
    const Ref held = Ref::borrow(offset);
    Result<std::uint64_t> converted = to_u64(offset);
    if (!converted) return std::move(converted).error();
    extent.offset = *converted;
    return ok_status;
}

Result<Ref> name_key(const Entry& entry) {
    if (PyUnicode_CheckExact(entry.name)) return Ref::borrow(entry.name);
    Ref key = Ref::steal(
        PyUnicode_FromStringAndSize(entry.name_text.data(), static_cast<Py_ssize_t>(entry.name_text.size())));
    if (!key) return already_raised();
    return key;
}

Result<std::optional<Encoding>> NameMatcher::encoding(const Entry& entry) {
    if (entry.encoding == encoding_object_.get()) return encoding_;
    std::array<char, longest_encoding_name> buffer;
    Result<std::string_view> lowered = lower_case(entry.encoding, entry.encoding_text, buffer);
    if (!lowered) return std::move(lowered).error();
    encoding_ = lowered->empty() ? std::nullopt : find_encoding(*lowered);
    encoding_object_ = Ref::borrow(entry.encoding);
    return encoding_;
}

Result<bool> NameMatcher::little_endian(const Entry& entry) {
    if (entry.byte_order == byte_order_object_.get()) return little_;
    std::array<char, 6> buffer;
    Result<std::string_view> lowered = lower_case(entry.byte_order, entry.byte_order_text, buffer);
    if (!lowered) return std::move(lowered).error();
    if (*lowered != "little" && *lowered != "big") {
        std::string message = "Invalid byte_order '";
        message += entry.byte_order_text;
        message += "': must be 'big' or 'little'";
        return value_error(std::move(message));
    }
    little_ = *lowered == "little";
    byte_order_object_ = Ref::borrow(entry.byte_order);
    return little_;
}

Error unsupported_encoding(const Entry& entry) {
    std::string message = "Unsupported encoding type: ";
    message += entry.encoding_text;
    return value_error(std::move(message));
}

}  // namespace telbit
