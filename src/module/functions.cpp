// The table of the module's 62 functions: names, parameters, conversions and operations.
#include "module/functions.hpp"

#include <new>
#include <string>
#include <utility>

#include "core/bcd.hpp"
#include "core/codecs.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/reserved.hpp"
#include "py/errors.hpp"
#include "recipe/walk.hpp"

namespace telbit {
namespace {

// Run one recipe walk. Running out of memory anywhere in it (the interpreter's allocations or
// C++'s) is one of its failures and reaches the caller wrapped like every other.
template <class Walk>
PyObject* run_walk(const char* where, Walk walk) {
    const RecursionGuard guard(where);
    if (!guard.entered()) return nullptr;
    FailurePlace place;
    try {
        Result<Ref> result = walk(place);
        return result ? std::move(*result).release() : raise_wrapped(result.error(), notes_for(place));
    } catch (const std::bad_alloc&) {
        // The interpreter's own MemoryError has no text; so has this one.
        return raise_wrapped(memory_error(""), notes_for(place));
    }
}

PyObject* unpack_parameters(ByteSpan packet, std::uint64_t offset_bits, SequenceArgument recipe) {
    return run_walk(" in unpack_parameters", [&](FailurePlace& place) {
        return process_recipe(packet, offset_bits, recipe.list_or_tuple, place);
    });
}

PyObject* pack_parameters(SequenceArgument recipe, DictArgument values) {
    return run_walk(" in pack_parameters", [&](FailurePlace& place) {
        RecipeItems items(recipe.list_or_tuple);
        return build_packet(items, values.object, place);
    });
}

// The stand-alone functions of the formats the table names but does not convert. The
// parameter's type is the one a converted format's function would take.
template <std::size_t Row, class Value>
Error reserved_decode(Value) {
    return reserved_decode_error(codecs[Row].label);
}
template <std::size_t Row, class Value>
Error reserved_encode(Value) {
    return reserved_encode_error(codecs[Row].label);
}
template <std::size_t Row>
constexpr auto decode_reserved = &reserved_decode<Row, std::uint64_t>;
template <std::size_t Row, class Value>
constexpr auto encode_reserved = &reserved_encode<Row, Value>;

// The stand-alone functions whose Python form differs from the core's.
constexpr auto decode_f128 = +[](U128 value) noexcept { return decode_ieee754_f128(value.high, value.low); };
template <std::size_t Row>
constexpr TextDecoder text_decoder = codecs[Row].decode_text;
template <std::size_t Row>
constexpr TextEncoder text_encoder = codecs[Row].encode_text;

constexpr const char* value_bits[] = {"value", "bits"};
constexpr const char* value_bits_signed[] = {"value", "bits", "signed"};
constexpr const char* value[] = {"value"};
constexpr const char* reserved_value[] = {"_value"};
constexpr const char* bytes[] = {"bytes"};
constexpr const char* text[] = {"text"};
constexpr const char* unpack_names[] = {"packet_bytes", "offset_bits", "recipe"};
constexpr const char* pack_names[] = {"recipe", "values"};

constexpr std::array<FunctionRow, function_count> rows = {{
    row<unpack_parameters>("unpack_parameters", unpack_names),
    row<pack_parameters>("pack_parameters", pack_names),
    row<decode_ones_complement>("decode_ones_complement", value_bits),
    row<decode_twos_complement>("decode_twos_complement", value_bits),
    row<decode_sign_magnitude>("decode_sign_magnitude", value_bits),
    row<decode_unpacked_bcd>("decode_unpacked_bcd", value_bits_signed, 2),
    row<decode_packed_bcd>("decode_packed_bcd", value_bits_signed, 2),
    row<decode_ieee754_f16>("decode_ieee754_f16", value),
    row<decode_ieee754_f32>("decode_ieee754_f32", value),
    row<decode_ieee754_f64>("decode_ieee754_f64", value),
    row<decode_f128>("decode_ieee754_f128", value),
    row<decode_reserved<codec_index("ieee754_1985_f32")>>("decode_ieee754_1985_f32", reserved_value),
    row<decode_reserved<codec_index("ieee754_1985_f64")>>("decode_ieee754_1985_f64", reserved_value),
    row<decode_reserved<codec_index("ieee754_1985_f80")>>("decode_ieee754_1985_f80", reserved_value),
    row<decode_reserved<codec_index("mil_std_1750a_f32")>>("decode_mil_std_1750a_f32", reserved_value),
    row<decode_reserved<codec_index("mil_std_1750a_f48")>>("decode_mil_std_1750a_f48", reserved_value),
    row<decode_reserved<codec_index("dec_f32")>>("decode_dec_f32", reserved_value),
    row<decode_reserved<codec_index("dec_f64")>>("decode_dec_f64", reserved_value),
    row<decode_reserved<codec_index("ibm_f32")>>("decode_ibm_f32", reserved_value),
    row<decode_reserved<codec_index("ibm_f64")>>("decode_ibm_f64", reserved_value),
    row<decode_reserved<codec_index("ti_f32")>>("decode_ti_f32", reserved_value),
    row<decode_reserved<codec_index("ti_f40")>>("decode_ti_f40", reserved_value),
    row<text_decoder<codec_index("us_ascii")>>("decode_us_ascii", bytes),
    row<text_decoder<codec_index("iso_8859_1")>>("decode_iso_8859_1", bytes),
    row<text_decoder<codec_index("windows_1252")>>("decode_windows_1252", bytes),
    row<text_decoder<codec_index("utf8")>>("decode_utf8", bytes),
    row<text_decoder<codec_index("utf16")>>("decode_utf16", bytes),
    row<text_decoder<codec_index("utf16le")>>("decode_utf16le", bytes),
    row<text_decoder<codec_index("utf16be")>>("decode_utf16be", bytes),
    row<text_decoder<codec_index("utf32")>>("decode_utf32", bytes),
    row<text_decoder<codec_index("utf32le")>>("decode_utf32le", bytes),
    row<text_decoder<codec_index("utf32be")>>("decode_utf32be", bytes),
    row<encode_ones_complement>("encode_ones_complement", value_bits),
    row<encode_twos_complement>("encode_twos_complement", value_bits),
    row<encode_sign_magnitude>("encode_sign_magnitude", value_bits),
    row<encode_unpacked_bcd>("encode_unpacked_bcd", value_bits_signed, 2),
    row<encode_packed_bcd>("encode_packed_bcd", value_bits_signed, 2),
    row<encode_ieee754_f16>("encode_ieee754_f16", value),
    row<encode_ieee754_f32>("encode_ieee754_f32", value),
    row<encode_ieee754_f64>("encode_ieee754_f64", value),
    row<encode_reserved<codec_index("ieee754_f128"), double>>("encode_ieee754_f128", reserved_value),
    row<encode_reserved<codec_index("ieee754_1985_f32"), float>>("encode_ieee754_1985_f32", reserved_value),
    row<encode_reserved<codec_index("ieee754_1985_f64"), double>>("encode_ieee754_1985_f64", reserved_value),
    row<encode_reserved<codec_index("ieee754_1985_f80"), double>>("encode_ieee754_1985_f80", reserved_value),
    row<encode_reserved<codec_index("mil_std_1750a_f32"), float>>("encode_mil_std_1750a_f32", reserved_value),
    row<encode_reserved<codec_index("mil_std_1750a_f48"), double>>("encode_mil_std_1750a_f48", reserved_value),
    row<encode_reserved<codec_index("dec_f32"), float>>("encode_dec_f32", reserved_value),
    row<encode_reserved<codec_index("dec_f64"), double>>("encode_dec_f64", reserved_value),
    row<encode_reserved<codec_index("ibm_f32"), float>>("encode_ibm_f32", reserved_value),
    row<encode_reserved<codec_index("ibm_f64"), double>>("encode_ibm_f64", reserved_value),
    row<encode_reserved<codec_index("ti_f32"), float>>("encode_ti_f32", reserved_value),
    row<encode_reserved<codec_index("ti_f40"), double>>("encode_ti_f40", reserved_value),
    row<text_encoder<codec_index("us_ascii")>>("encode_us_ascii", text),
    row<text_encoder<codec_index("iso_8859_1")>>("encode_iso_8859_1", text),
    row<text_encoder<codec_index("windows_1252")>>("encode_windows_1252", text),
    row<text_encoder<codec_index("utf8")>>("encode_utf8", text),
    row<text_encoder<codec_index("utf16")>>("encode_utf16", text),
    row<text_encoder<codec_index("utf16le")>>("encode_utf16le", text),
    row<text_encoder<codec_index("utf16be")>>("encode_utf16be", text),
    row<text_encoder<codec_index("utf32")>>("encode_utf32", text),
    row<text_encoder<codec_index("utf32le")>>("encode_utf32le", text),
    row<text_encoder<codec_index("utf32be")>>("encode_utf32be", text),
}};

std::array<InternedNames, function_count> interned_names{};

// One C entry point per row: a builtin gets only the module as `self`, so the row is fixed
// at compile time. A call that gives every parameter by position skips the general binding.
template <std::size_t Index>
PyObject* entry_point(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionRow& row = rows[Index];
    // No C++ exception may cross into the interpreter.
    try {
        if (kwnames == nullptr && nargs == row.count) return row.operation(args, row);
        std::array<PyObject*, max_parameters> slots;
        if (!bind_slots(row, interned_names[Index], args, nargs, kwnames, slots)) return nullptr;
        return row.operation(slots.data(), row);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        return raise_unexpected_exception();
    }
}

template <std::size_t... Index>
constexpr std::array<_PyCFunctionFastWithKeywords, function_count> make_entry_points(
    std::index_sequence<Index...>) {
    return {entry_point<Index>...};
}
constexpr auto entry_points = make_entry_points(std::make_index_sequence<function_count>{});

// "name(a, b, signed=False)\n--\n\n": the text signature and no further documentation.
std::string signature_doc(const FunctionRow& row) {
    std::string doc = row.name;
    doc += "(";
    for (std::size_t i = 0; i < row.count; ++i) {
        if (i > 0) doc += ", ";
        doc += row.parameters[i];
        if (i >= row.required) doc += "=False";
    }
    doc += ")\n--\n\n";
    return doc;
}

std::array<std::string, function_count> docs;
std::array<PyMethodDef, function_count + 1> definitions{};

}  // namespace

std::span<const FunctionRow, function_count> function_table() noexcept { return rows; }

PyMethodDef* method_definitions() {
    if (definitions[0].ml_name != nullptr) return definitions.data();
    for (std::size_t i = 0; i < function_count; ++i) {
        if (!intern_parameter_names(rows[i], interned_names[i])) return nullptr;
        docs[i] = signature_doc(rows[i]);
    }
    for (std::size_t i = 0; i < function_count; ++i) {
        definitions[i].ml_name = rows[i].name;
        definitions[i].ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry_points[i]));
        definitions[i].ml_flags = METH_FASTCALL | METH_KEYWORDS;
        definitions[i].ml_doc = docs[i].c_str();
    }
    return definitions.data();
}

}  // namespace telbit
