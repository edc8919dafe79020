// process_recipe: cuts each field out of the packet and decodes it into the result dict.
#include <string>
#include <vector>

#include "core/codecs.hpp"
#include "core/field.hpp"
#include "recipe/entry.hpp"
#include "recipe/walk.hpp"

namespace telbit {
namespace {

// The field's value, by the one way its codec decodes: a new reference, or null with the
// failure in `error` (or, when `error` says so, in the interpreter's error indicator). Makes
// objects the garbage collector does not track, so it runs no Python code.
PyObject* decode_field(const Codec& codec, const Entry& entry, ByteSpan field, bool little,
                       std::vector<std::uint8_t>& scratch, Error& error) {
    if (codec.decode != nullptr) {
        const std::uint64_t pattern = read_field_pattern(field, entry.bits, little, entry.reverse_bits);
        return new_number(codec.gives, codec.decode(pattern, entry.bits));
    }
    if (codec.decode_text != nullptr) {
        Result<DecodedText> text = codec.decode_text(text_field_bytes(field, little, scratch));
        if (text) return new_text(*text);
        error = std::move(text).error();
        return nullptr;
    }
    if (codec.decode_checked != nullptr) {
        Result<std::uint64_t> word =
            codec.decode_checked(read_field_pattern(field, entry.bits, little, entry.reverse_bits), entry.bits);
        if (word) return new_number(codec.gives, *word);
        error = std::move(word).error();
        return nullptr;
    }
    error = codec.refuse(codec.label, entry.bits);
    return nullptr;
}

}  // namespace

Error span_error(PyObject* name, FieldSpan span, std::size_t length) {
    std::string message = "Field '";
    message += entry_text(name);
    message += "' needs bytes " + std::to_string(span.first) + " to " + std::to_string(span.first + span.size) +
               " but the packet has " + std::to_string(length) + " bytes";
    return value_error(std::move(message));
}

Result<Ref> process_recipe(ByteSpan packet, std::uint64_t offset_bits, PyObject* recipe_sequence,
                           FailurePlace& place) {
    // The result dict first: making it may start a collection, whose finalisers may change the
    // recipe list, so its items are taken only once it is made. (The walk makes no other object
    // that the collector tracks.)
    Ref result = Ref::steal(py::new_presized_dict(Py_SIZE(recipe_sequence)));
    if (!result) return already_raised();
    RecipeItems recipe(recipe_sequence);
    std::uint64_t running = offset_bits;
    std::vector<std::uint8_t> scratch;
    NameMatcher names;  // what this walk learns of the recipe's names
    for (Py_ssize_t i = 0; i < recipe.size(); ++i) {
        PyObject* item = recipe[i];
        Entry entry;
        // Taken only by the general reader. The plain reader's borrowed texts need none: from
        // here to the insertion nothing runs Python code (the decoders make untracked objects,
        // and the result dict's keys are exact strs).
        EntryHold hold;
        const auto failed = [&](Error error, const ByteSpan* field = nullptr) -> Error {
            place.record(i, item, entry.name, &packet, field);
            return error;
        };
        if (Status status = read_any_entry(item, entry, hold, recipe, names); !status) return failed(std::move(status).error());

        // Positions wrap modulo 2^64.
        const std::uint64_t position = entry.has_offset ? offset_bits + entry.offset : running;
        const FieldSpan span = field_span(position, entry.bits);
        if (!span.inside(packet.size())) return failed(span_error(entry.name, span, packet.size()));
        const ByteSpan field = packet.subspan(span.first, span.size);

        bool little = false;
        if (Status status = names.byte_order(entry.byte_order, little); !status) {
            return failed(std::move(status).error(), &field);
        }
        const Codec* codec = nullptr;
        if (Status status = names.codec(entry.encoding, codec); !status) return failed(std::move(status).error(), &field);
        if (codec == nullptr) return failed(unsupported_encoding(entry.encoding), &field);

        Error error = already_raised();
        const Ref value = Ref::steal(decode_field(*codec, entry, field, little, scratch, error));
        if (!value) return failed(std::move(error), &field);
        if (PyUnicode_CheckExact(entry.name)) {
            if (PyDict_SetItem(result.get(), entry.name, value.get()) < 0) return failed(already_raised(), &field);
        } else {
            Result<Ref> key = name_key(entry.name);
            if (!key) return failed(std::move(key).error(), &field);
            if (PyDict_SetItem(result.get(), key->get(), value.get()) < 0) return failed(already_raised(), &field);
        }
        running = position + entry.bits;
    }
    return result;
}

}  // namespace telbit
