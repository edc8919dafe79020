// Reading one recipe entry: its keys, their conversions, and the names it selects.
#include "recipe/entry.hpp"

#include <array>
#include <string>

#include "module/convert.hpp"

namespace telbit {
namespace {

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

Status read_text(PyObject* entry, PyObject* key, std::string_view field, Ref& holder, std::string_view& text) {
    Result<Ref> value = lookup(entry, key);
    if (!value) return std::move(value).error();
    if (!*value) return missing(field);
    Result<std::string_view> converted = to_text(value->get());
    if (!converted) return std::move(converted).error();
    holder = std::move(*value);
    text = *converted;
    return ok_status;
}

Status read_bits(PyObject* entry, std::uint32_t& bits) {
    Result<Ref> value = lookup(entry, keys.bits);
    if (!value) return std::move(value).error();
    if (!*value) return missing("bits");
    Result<std::uint32_t> converted = to_u32(value->get());
    if (!converted) return std::move(converted).error();
    bits = *converted;
    return ok_status;
}

Status read_offset(PyObject* entry, bool& has_offset, std::uint64_t& offset) {
    Result<Ref> value = lookup(entry, keys.offset_bits);
    if (!value) return std::move(value).error();
    has_offset = static_cast<bool>(*value);
    if (!has_offset) return ok_status;
    Result<std::uint64_t> converted = to_u64(value->get());
    if (!converted) return std::move(converted).error();
    offset = *converted;
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
    keys.str_lower = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), "lower");
    return keys.name != nullptr && keys.encoding != nullptr && keys.bits != nullptr && keys.byte_order != nullptr &&
           keys.reverse_bits != nullptr && keys.offset_bits != nullptr && keys.str_lower != nullptr;
}

Status read_entry(PyObject* item, Entry& entry) {
    if (Status status = check_dict(item); !status) return status;
    if (Status status = read_text(item, keys.name, "name", entry.name, entry.name_text); !status) return status;
    if (Status status = read_text(item, keys.encoding, "encoding", entry.encoding, entry.encoding_text); !status) {
        return status;
    }
    if (Status status = read_bits(item, entry.bits); !status) return status;
    if (Status status = read_text(item, keys.byte_order, "byte_order", entry.byte_order, entry.byte_order_text);
        !status) {
        return status;
    }
    Result<Ref> reverse = lookup(item, keys.reverse_bits);
    if (!reverse) return std::move(reverse).error();
    if (!*reverse) return missing("reverse_bits");
    Result<bool> flag = to_flag(reverse->get());
    if (!flag) return std::move(flag).error();
    entry.reverse_bits = *flag;
    return read_offset(item, entry.has_offset, entry.offset);
}

Status read_extent(PyObject* item, Extent& extent) {
    if (Status status = check_dict(item); !status) return status;
    if (Status status = read_bits(item, extent.bits); !status) return status;
    return read_offset(item, extent.has_offset, extent.offset);
}

Result<Ref> name_key(const Entry& entry) {
    if (PyUnicode_CheckExact(entry.name.get())) return Ref::borrow(entry.name.get());
    Ref key = Ref::steal(
        PyUnicode_FromStringAndSize(entry.name_text.data(), static_cast<Py_ssize_t>(entry.name_text.size())));
    if (!key) return already_raised();
    return key;
}

Result<std::optional<Encoding>> match_encoding(const Entry& entry) {
    std::array<char, longest_encoding_name> buffer;
    Result<std::string_view> lowered = lower_case(entry.encoding.get(), entry.encoding_text, buffer);
    if (!lowered) return std::move(lowered).error();
    if (lowered->empty()) return std::optional<Encoding>{};
    return find_encoding(*lowered);
}

Result<bool> match_byte_order(const Entry& entry) {
    std::array<char, 6> buffer;
    Result<std::string_view> lowered = lower_case(entry.byte_order.get(), entry.byte_order_text, buffer);
    if (!lowered) return std::move(lowered).error();
    if (*lowered == "little") return true;
    if (*lowered == "big") return false;
    std::string message = "Invalid byte_order '";
    message += entry.byte_order_text;
    message += "': must be 'big' or 'little'";
    return value_error(std::move(message));
}

Error unsupported_encoding(const Entry& entry) {
    std::string message = "Unsupported encoding type: ";
    message += entry.encoding_text;
    return value_error(std::move(message));
}

}  // namespace telbit
