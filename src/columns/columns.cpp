// Whole archives into columns: the plan of a recipe, and the fill of its columns.
#include "columns/columns.hpp"

#include <algorithm>
#include <new>
#include <string>

#include "recipe/entry.hpp"

namespace telbit::columns {
namespace {

// The codec's way of decoding can refuse a field's bytes.
bool can_fail(const Codec& codec) noexcept { return codec.decode_checked != nullptr || codec.decode_text != nullptr; }

ByteSpan field_of(ByteSpan packet, const PlannedField& field) noexcept {
    return packet.subspan(static_cast<std::size_t>(field.span.first), static_cast<std::size_t>(field.span.size));
}

}  // namespace

Result<Plan> read_plan(RecipeItems& recipe, std::uint64_t offset_bits, std::size_t packet_length,
                       FailurePlace& place) {
    Plan plan;
    plan.fields.reserve(static_cast<std::size_t>(recipe.size()));
    // Making the dict may start a collection, whose finalisers may change the recipe list: the
    // walk reads its own copy of the items from here on (once a call, beside a whole archive).
    recipe.snapshot();
    // A name's column: the dict maps each name to its index in plan.columns.
    Ref column_of = Ref::steal(PyDict_New());
    if (!column_of) return already_raised();
    std::vector<std::size_t> last_field;  // per column, the field that fills it
    std::uint64_t running = offset_bits;
    NameMatcher names;  // what this walk learns of the recipe's names
    for (Py_ssize_t i = 0; i < recipe.size(); ++i) {
        PyObject* item = recipe[i];
        Entry entry;
        EntryHold hold;
        const auto failed = [&](Error error) -> Error {
            place.record(i, item, entry.name);
            return error;
        };
        if (Status status = read_any_entry(item, entry, hold, recipe, names); !status) return failed(std::move(status).error());
        // From here to the entry's end nothing runs Python code, as in unpack_parameters.
        const std::uint64_t position = entry.has_offset ? offset_bits + entry.offset : running;
        const FieldSpan span = field_span(position, entry.bits);
        if (packet_length != 0 && !span.inside(packet_length)) return failed(span_error(entry.name, span, packet_length));
        bool little = false;
        if (Status status = names.byte_order(entry.byte_order, little); !status) return failed(std::move(status).error());
        const Codec* codec = nullptr;
        if (Status status = names.codec(entry.encoding, codec); !status) return failed(std::move(status).error());
        if (codec == nullptr) return failed(unsupported_encoding(entry.encoding));
        // A format that is named but not converted fails in every packet.
        if (codec->refuse != nullptr) return failed(codec->refuse(codec->label, entry.bits));

        Result<Ref> key = name_key(entry.name);
        if (!key) return failed(std::move(key).error());
        std::size_t column = plan.columns.size();
        if (PyObject* known = PyDict_GetItemWithError(column_of.get(), key->get())) {  // exact str keys: no code
            column = PyLong_AsSize_t(known);
            plan.columns[column].kind = codec->gives;  // a later entry of the same name wins, as in a dict
            last_field[column] = plan.fields.size();
        } else {
            if (PyErr_Occurred()) return failed(already_raised());
            Ref index = Ref::steal(PyLong_FromSize_t(column));
            if (!index || PyDict_SetItem(column_of.get(), key->get(), index.get()) < 0) return failed(already_raised());
            plan.columns.push_back(Column{Ref::borrow(key->get()), codec->gives});
            last_field.push_back(plan.fields.size());
        }
        plan.fields.push_back(PlannedField{codec, entry.bits, little, entry.reverse_bits, span, column, i,
                                           std::move(*key)});
        running = position + entry.bits;
    }
    for (std::size_t f = 0; f < plan.fields.size(); ++f) {
        PlannedField& field = plan.fields[f];
        if (last_field[field.column] != f) field.column = no_column;  // only checked: a later entry fills it
    }
    return plan;
}

void fill_numbers(const Plan& plan, const Packets& packets, std::span<std::uint64_t* const> words,
                  std::size_t& first_failure) noexcept {
    const bool spans_vary = packets.length == 0;
    // The packets are taken a block at a time, every field over the block before the next: a
    // block of about 64 KiB of packets stays in the cache while its fields are read, where one
    // field over the whole archive would fetch the archive from memory once per field.
    const std::size_t count = packets.count();
    const std::size_t average = count == 0 ? 1 : std::max<std::size_t>(1, packets.size / count);
    const std::size_t block = std::max<std::size_t>(16, (std::size_t{64} << 10) / average);
    for (std::size_t begin = 0; begin < std::min(count, first_failure); begin += block) {
        for (const PlannedField& field : plan.fields) {
            const Codec& codec = *field.codec;
            if (codec.is_text()) continue;
            std::uint64_t* out = field.column != no_column ? words[field.column] : nullptr;
            if (out == nullptr && !can_fail(codec) && !spans_vary) continue;  // nothing to fill, nothing to check
            const std::size_t end = std::min({begin + block, count, first_failure});
            for (std::size_t p = begin; p < end; ++p) {
                const ByteSpan packet = packets.packet(p);
                if (spans_vary && !field.span.inside(packet.size())) {
                    first_failure = p;
                    break;
                }
                const std::uint64_t pattern = read_field_pattern(field_of(packet, field), field.bits, field.little,
                                                                 field.reverse_bits);
                if (codec.decode != nullptr) {
                    if (out != nullptr) out[p] = codec.decode(pattern, field.bits);
                    continue;
                }
                bool refused = true;
                try {
                    Result<std::uint64_t> word = codec.decode_checked(pattern, field.bits);
                    refused = !word;
                    if (!refused && out != nullptr) out[p] = *word;
                } catch (const std::bad_alloc&) {
                    // Out of memory for the refusal's text: packet_error makes it again, and reports it.
                }
                if (refused) {
                    first_failure = p;
                    break;
                }
            }
        }
    }
}

bool fill_texts(const Plan& plan, const Packets& packets, std::span<PyObject* const> lists,
                std::size_t& first_failure) {
    std::vector<std::uint8_t> scratch;
    for (const PlannedField& field : plan.fields) {
        if (!field.codec->is_text()) continue;
        PyObject* list = field.column != no_column ? lists[field.column] : nullptr;
        const std::size_t count = std::min(first_failure, packets.count());
        for (std::size_t p = 0; p < count; ++p) {
            const ByteSpan packet = packets.packet(p);
            if (packets.length == 0 && !field.span.inside(packet.size())) {
                first_failure = p;
                break;
            }
            Result<DecodedText> text = field.codec->decode_text(text_field_bytes(field_of(packet, field), field.little, scratch));
            if (!text) {
                first_failure = p;
                break;
            }
            if (list == nullptr) continue;
            PyObject* made = new_text(*text);
            if (made == nullptr) return false;
            PyObject* old = PyList_GET_ITEM(list, static_cast<Py_ssize_t>(p));
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(p), made);
            Py_XDECREF(old);  // a str the walk made: letting it go runs no code
        }
    }
    return true;
}

Error packet_error(const Plan& plan, const Packets& packets, std::size_t index, FailurePlace& place) {
    const ByteSpan packet = packets.packet(index);
    std::vector<std::uint8_t> scratch;
    for (const PlannedField& field : plan.fields) {
        if (packets.length == 0 && !field.span.inside(packet.size())) {
            place.record(field.entry, nullptr, field.name.get());
            return span_error(field.name.get(), field.span, packet.size());
        }
        const ByteSpan bytes = field_of(packet, field);
        Error error = already_raised();
        bool refused = false;
        if (field.codec->decode_text != nullptr) {
            Result<DecodedText> text = field.codec->decode_text(text_field_bytes(bytes, field.little, scratch));
            if ((refused = !text)) error = std::move(text).error();
        } else if (field.codec->decode_checked != nullptr) {
            Result<std::uint64_t> word = field.codec->decode_checked(
                read_field_pattern(bytes, field.bits, field.little, field.reverse_bits), field.bits);
            if ((refused = !word)) error = std::move(word).error();
        }
        if (refused) {
            place.record(field.entry, nullptr, field.name.get(), &packet, &bytes);
            return error;
        }
    }
    return value_error("internal error: no field fails in the failing packet");
}

}  // namespace telbit::columns
