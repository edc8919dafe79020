// Whole archives into columns: a recipe read once into a plan, then each field decoded over
// every packet. The plan and the numeric fill are plain C++; only the reading of the recipe
// and the text columns need the interpreter.
#pragma once

#include <Python.h>

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "core/codecs.hpp"
#include "core/field.hpp"
#include "core/result.hpp"
#include "py/ref.hpp"
#include "recipe/walk.hpp"

namespace telbit::columns {

inline constexpr std::size_t no_column = std::numeric_limits<std::size_t>::max();

// One recipe entry, read, matched and placed: its position counts from the start of every
// packet.
struct PlannedField {
    const Codec* codec = nullptr;
    std::uint32_t bits = 0;
    bool little = false;
    bool reverse_bits = false;
    FieldSpan span;               // the field's bytes within a packet
    std::size_t column = no_column;  // the result column it fills; no_column when a later entry of the
                                     // same name fills it instead, so that this one is only checked
    Py_ssize_t entry = 0;         // its index in the recipe
    Ref name;                     // as the result dict's key: an exact str
};

struct Column {
    Ref name;
    ValueKind kind = ValueKind::none;  // of the last entry of that name
};

struct Plan {
    std::vector<PlannedField> fields;  // in recipe order
    std::vector<Column> columns;       // in the order of their names' first entries
};

// Where the packets lie in the data: every `length` bytes, or from each start to the next.
struct Packets {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t length = 0;                 // fixed-length packets, when not 0
    std::span<const std::uint64_t> starts;  // otherwise

    [[nodiscard]] std::size_t count() const noexcept { return length != 0 ? size / length : starts.size(); }
    [[nodiscard]] ByteSpan packet(std::size_t i) const noexcept {
        if (length != 0) return {data + i * length, length};
        const std::uint64_t end = i + 1 < starts.size() ? starts[i + 1] : size;
        return {data + starts[i], static_cast<std::size_t>(end - starts[i])};
    }
};

// Read every entry of the recipe, in order, with the checks and messages of unpack_parameters
// that do not depend on a packet's bytes: each entry's keys, byte order and encoding, the
// refusal of the formats that are not converted, and, when every packet has `packet_length`
// bytes (0 when they differ), the field's span. May run Python code (the entries' own); a
// failure says where in `place`.
[[nodiscard]] Result<Plan> read_plan(RecipeItems& recipe, std::uint64_t offset_bits, std::size_t packet_length,
                                     FailurePlace& place);

// Fill the numeric columns of the live fields (`words[c]` holds column c's n words, null for a
// text column) and check every field whose decoding can fail, over the packets below `first_failure`;
// lowers `first_failure` to the first packet in which any field fails. Runs no Python code and
// touches no Python object: it may run with the interpreter lock let go.
void fill_numbers(const Plan& plan, const Packets& packets, std::span<std::uint64_t* const> words,
                  std::size_t& first_failure) noexcept;

// Fill the text columns (`lists[c]`, a list of n items) and check the text fields, over the
// packets below `first_failure`, which it lowers as fill_numbers does. Needs the interpreter
// lock; false with an exception set when a str cannot be made.
[[nodiscard]] bool fill_texts(const Plan& plan, const Packets& packets, std::span<PyObject* const> lists,
                              std::size_t& first_failure);

// The error unpack_parameters gives for packet `index` (one that fails), and where.
[[nodiscard]] Error packet_error(const Plan& plan, const Packets& packets, std::size_t index, FailurePlace& place);

}  // namespace telbit::columns
