// The table of the module's 62 functions: names, parameters, conversions and operations.
#include "module/functions.hpp"

#include <new>
#include <string>
#include <utility>

#include "core/bcd.hpp"
#include "core/charsets.hpp"
#include "core/ieee754.hpp"
#include "core/integer.hpp"
#include "core/codecs.hpp"
#include "core/reserved.hpp"
#include "core/unicode.hpp"
#include "module/errors.hpp"
#include "recipe/walk.hpp"

namespace telbit {
namespace {

// Result conversions.
PyObject* signed_result(std::int64_t value) { return PyLong_FromLongLong(value); }
PyObject* unsigned_result(std::uint64_t value) {
    // The signed constructor has the interpreter's fast path for small values.
    return value <= 0x7FFFFFFFFFFFFFFFULL ? PyLong_FromLongLong(static_cast<long long>(value))
                                          : PyLong_FromUnsignedLongLong(value);
}
PyObject* float_result(double value) { return PyFloat_FromDouble(value); }

PyObject* signed_result(const Result<std::int64_t>& value) {
    return value ? signed_result(*value) : raise_error(value.error());
}
PyObject* unsigned_result(const Result<std::uint64_t>& value) {
    return value ? unsigned_result(*value) : raise_error(value.error());
}
PyObject* text_result(const Result<DecodedText>& text) { return text ? new_text(*text) : raise_error(text.error()); }
PyObject* bytes_result(const std::string& bytes) { return new_bytes(bytes); }
PyObject* bytes_result(const Result<std::string>& bytes) {
    return bytes ? new_bytes(*bytes) : raise_error(bytes.error());
}

// The recipe walks run Python code of the recipe's and the values' own (an __index__, an
// __eq__) and that code may call the walks again. Each such round costs C stack that the
// interpreter cannot see, so it is counted against the recursion limit: runaway re-entry
// ends in RecursionError rather than a stack overflow.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) noexcept : entered_(Py_EnterRecursiveCall(where) == 0) {}
    ~RecursionGuard() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    [[nodiscard]] bool entered() const noexcept { return entered_; }

private:
    bool entered_;
};

// Run one recipe walk. Running out of memory anywhere in it (the interpreter's allocations or
// C++'s) is one of its failures and reaches the caller wrapped like every other.
template <class Walk>
PyObject* run_walk(const char* where, Walk walk) {
    const RecursionGuard guard(where);
    if (!guard.entered()) return nullptr;
    try {
        Result<Ref> result = walk();
        return result ? std::move(*result).release() : raise_wrapped(result.error());
    } catch (const std::bad_alloc&) {
        // The interpreter's own MemoryError has no text; so has this one.
        return raise_wrapped(memory_error(""));
    }
}

PyObject* unpack_parameters(Arguments& a) {
    return run_walk(" in unpack_parameters", [&] {
        RecipeItems recipe(a.items.get());
        return process_recipe(a[0].bytes, a[1].u64, recipe);
    });
}

PyObject* pack_parameters(Arguments& a) {
    return run_walk(" in pack_parameters", [&] {
        RecipeItems recipe(a.items.get());
        return build_packet(recipe, a[1].object);
    });
}

// The stand-alone functions of a format the table names but does not convert.
template <std::size_t Row>
PyObject* reserved_decode(Arguments&) {
    return raise_error(reserved_decode_error(codecs[Row].label));
}

template <std::size_t Row>
PyObject* reserved_encode(Arguments&) {
    return raise_error(reserved_encode_error(codecs[Row].label));
}

constexpr Parameter p_value_u64{"value", Kind::u64};
constexpr Parameter p_value_i64{"value", Kind::i64};
constexpr Parameter p_value_f32{"value", Kind::f32};
constexpr Parameter p_value_f64{"value", Kind::f64};
constexpr Parameter p_bits{"bits", Kind::u32};
constexpr Parameter p_signed{"signed", Kind::flag};
constexpr Parameter p_reserved_u64{"_value", Kind::u64};
constexpr Parameter p_reserved_f32{"_value", Kind::f32};
constexpr Parameter p_reserved_f64{"_value", Kind::f64};
constexpr Parameter p_bytes{"bytes", Kind::byte_string};
constexpr Parameter p_text{"text", Kind::text};

constexpr FunctionRow one(const char* name, Parameter parameter, Operation operation) {
    return {name, {parameter, {}, {}}, 1, 1, operation};
}
constexpr FunctionRow two(const char* name, Parameter first, Parameter second, Operation operation) {
    return {name, {first, second, {}}, 2, 2, operation};
}
constexpr FunctionRow with_signed(const char* name, Parameter first, Operation operation) {
    return {name, {first, p_bits, p_signed}, 3, 2, operation};
}


constexpr std::array<FunctionRow, function_count> rows = {{
    {"unpack_parameters",
     {Parameter{"packet_bytes", Kind::byte_string}, Parameter{"offset_bits", Kind::u64},
      Parameter{"recipe", Kind::sequence}},
     3, 3, unpack_parameters},
    {"pack_parameters", {Parameter{"recipe", Kind::sequence}, Parameter{"values", Kind::dict}, {}}, 2, 2,
     pack_parameters},
    two("decode_ones_complement", p_value_u64, p_bits,
        [](Arguments& a) { return signed_result(decode_ones_complement(a[0].u64, a[1].u32)); }),
    two("decode_twos_complement", p_value_u64, p_bits,
        [](Arguments& a) { return signed_result(decode_twos_complement(a[0].u64, a[1].u32)); }),
    two("decode_sign_magnitude", p_value_u64, p_bits,
        [](Arguments& a) { return signed_result(decode_sign_magnitude(a[0].u64, a[1].u32)); }),
    with_signed("decode_unpacked_bcd", p_value_u64,
                [](Arguments& a) { return signed_result(decode_unpacked_bcd(a[0].u64, a[1].u32, a[2].flag)); }),
    with_signed("decode_packed_bcd", p_value_u64,
                [](Arguments& a) { return signed_result(decode_packed_bcd(a[0].u64, a[1].u32, a[2].flag)); }),
    one("decode_ieee754_f16", p_value_u64, [](Arguments& a) { return float_result(decode_ieee754_f16(a[0].u64)); }),
    one("decode_ieee754_f32", p_value_u64, [](Arguments& a) { return float_result(decode_ieee754_f32(a[0].u64)); }),
    one("decode_ieee754_f64", p_value_u64, [](Arguments& a) { return float_result(decode_ieee754_f64(a[0].u64)); }),
    one("decode_ieee754_f128", Parameter{"value", Kind::u128},
        [](Arguments& a) { return float_result(decode_ieee754_f128(a[0].u128.high, a[0].u128.low)); }),
    one("decode_ieee754_1985_f32", p_reserved_u64, reserved_decode<codec_index("ieee754_1985_f32")>),
    one("decode_ieee754_1985_f64", p_reserved_u64, reserved_decode<codec_index("ieee754_1985_f64")>),
    one("decode_ieee754_1985_f80", p_reserved_u64, reserved_decode<codec_index("ieee754_1985_f80")>),
    one("decode_mil_std_1750a_f32", p_reserved_u64, reserved_decode<codec_index("mil_std_1750a_f32")>),
    one("decode_mil_std_1750a_f48", p_reserved_u64, reserved_decode<codec_index("mil_std_1750a_f48")>),
    one("decode_dec_f32", p_reserved_u64, reserved_decode<codec_index("dec_f32")>),
    one("decode_dec_f64", p_reserved_u64, reserved_decode<codec_index("dec_f64")>),
    one("decode_ibm_f32", p_reserved_u64, reserved_decode<codec_index("ibm_f32")>),
    one("decode_ibm_f64", p_reserved_u64, reserved_decode<codec_index("ibm_f64")>),
    one("decode_ti_f32", p_reserved_u64, reserved_decode<codec_index("ti_f32")>),
    one("decode_ti_f40", p_reserved_u64, reserved_decode<codec_index("ti_f40")>),
    one("decode_us_ascii", p_bytes, [](Arguments& a) { return text_result(decode_us_ascii(a[0].bytes)); }),
    one("decode_iso_8859_1", p_bytes, [](Arguments& a) { return new_text(decode_iso_8859_1(a[0].bytes)); }),
    one("decode_windows_1252", p_bytes, [](Arguments& a) { return text_result(decode_windows_1252(a[0].bytes)); }),
    one("decode_utf8", p_bytes, [](Arguments& a) { return text_result(decode_utf8(a[0].bytes)); }),
    one("decode_utf16", p_bytes, [](Arguments& a) { return text_result(decode_utf16(a[0].bytes)); }),
    one("decode_utf16le", p_bytes,
        [](Arguments& a) { return text_result(decode_utf16_with_endianness(a[0].bytes, true)); }),
    one("decode_utf16be", p_bytes,
        [](Arguments& a) { return text_result(decode_utf16_with_endianness(a[0].bytes, false)); }),
    one("decode_utf32", p_bytes, [](Arguments& a) { return text_result(decode_utf32(a[0].bytes)); }),
    one("decode_utf32le", p_bytes,
        [](Arguments& a) { return text_result(decode_utf32_with_endianness(a[0].bytes, true)); }),
    one("decode_utf32be", p_bytes,
        [](Arguments& a) { return text_result(decode_utf32_with_endianness(a[0].bytes, false)); }),
    two("encode_ones_complement", p_value_i64, p_bits,
        [](Arguments& a) { return unsigned_result(encode_ones_complement(a[0].i64, a[1].u32)); }),
    two("encode_twos_complement", p_value_i64, p_bits,
        [](Arguments& a) { return unsigned_result(encode_twos_complement(a[0].i64, a[1].u32)); }),
    two("encode_sign_magnitude", p_value_i64, p_bits,
        [](Arguments& a) { return unsigned_result(encode_sign_magnitude(a[0].i64, a[1].u32)); }),
    with_signed("encode_unpacked_bcd", p_value_i64,
                [](Arguments& a) { return unsigned_result(encode_unpacked_bcd(a[0].i64, a[1].u32, a[2].flag)); }),
    with_signed("encode_packed_bcd", p_value_i64,
                [](Arguments& a) { return unsigned_result(encode_packed_bcd(a[0].i64, a[1].u32, a[2].flag)); }),
    one("encode_ieee754_f16", p_value_f32,
        [](Arguments& a) { return unsigned_result(encode_ieee754_f16(a[0].f32)); }),
    one("encode_ieee754_f32", p_value_f32,
        [](Arguments& a) { return unsigned_result(encode_ieee754_f32(a[0].f32)); }),
    one("encode_ieee754_f64", p_value_f64,
        [](Arguments& a) { return unsigned_result(encode_ieee754_f64(a[0].f64)); }),
    one("encode_ieee754_f128", p_reserved_f64,
        reserved_encode<codec_index("ieee754_f128")>),
    one("encode_ieee754_1985_f32", p_reserved_f32, reserved_encode<codec_index("ieee754_1985_f32")>),
    one("encode_ieee754_1985_f64", p_reserved_f64, reserved_encode<codec_index("ieee754_1985_f64")>),
    one("encode_ieee754_1985_f80", p_reserved_f64, reserved_encode<codec_index("ieee754_1985_f80")>),
    one("encode_mil_std_1750a_f32", p_reserved_f32, reserved_encode<codec_index("mil_std_1750a_f32")>),
    one("encode_mil_std_1750a_f48", p_reserved_f64, reserved_encode<codec_index("mil_std_1750a_f48")>),
    one("encode_dec_f32", p_reserved_f32, reserved_encode<codec_index("dec_f32")>),
    one("encode_dec_f64", p_reserved_f64, reserved_encode<codec_index("dec_f64")>),
    one("encode_ibm_f32", p_reserved_f32, reserved_encode<codec_index("ibm_f32")>),
    one("encode_ibm_f64", p_reserved_f64, reserved_encode<codec_index("ibm_f64")>),
    one("encode_ti_f32", p_reserved_f32, reserved_encode<codec_index("ti_f32")>),
    one("encode_ti_f40", p_reserved_f64, reserved_encode<codec_index("ti_f40")>),
    one("encode_us_ascii", p_text, [](Arguments& a) { return bytes_result(encode_us_ascii(a[0].text)); }),
    one("encode_iso_8859_1", p_text, [](Arguments& a) { return bytes_result(encode_iso_8859_1(a[0].text)); }),
    one("encode_windows_1252", p_text, [](Arguments& a) { return bytes_result(encode_windows_1252(a[0].text)); }),
    one("encode_utf8", p_text, [](Arguments& a) { return new_bytes(a[0].text); }),
    one("encode_utf16", p_text, [](Arguments& a) { return bytes_result(encode_utf16(a[0].text)); }),
    one("encode_utf16le", p_text, [](Arguments& a) { return bytes_result(encode_utf16le(a[0].text)); }),
    one("encode_utf16be", p_text, [](Arguments& a) { return bytes_result(encode_utf16be(a[0].text)); }),
    one("encode_utf32", p_text, [](Arguments& a) { return bytes_result(encode_utf32(a[0].text)); }),
    one("encode_utf32le", p_text, [](Arguments& a) { return bytes_result(encode_utf32le(a[0].text)); }),
    one("encode_utf32be", p_text, [](Arguments& a) { return bytes_result(encode_utf32be(a[0].text)); }),
}};

std::array<InternedNames, function_count> interned_names{};

// One C entry point per row: a builtin gets only the module as `self`, so the row is fixed
// at compile time.
// Bind, convert and run. A call that gives every parameter by position skips the general
// binding; the conversions are chosen at compile time from the row.
template <std::size_t Index>
PyObject* entry_point(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr const FunctionRow& row = rows[Index];
    // No C++ exception may cross into the interpreter.
    try {
        std::array<PyObject*, max_parameters> slots;
        PyObject* const* bound = args;
        if (kwnames != nullptr || nargs != row.count) {
            if (!bind_slots(row, interned_names[Index], args, nargs, kwnames, slots)) return nullptr;
            bound = slots.data();
        }
        Arguments arguments;
        const bool converted = [&]<std::size_t... I>(std::index_sequence<I...>) {
            return (convert_argument<rows[Index].parameters[I].kind>(rows[Index].parameters[I].name, bound[I],
                                                                      arguments, arguments.values[I]) &&
                    ...);
        }(std::make_index_sequence<rows[Index].count>{});
        if (!converted) return nullptr;
        return row.operation(arguments);
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
        doc += row.parameters[i].name;
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
