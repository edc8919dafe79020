// The recipe layer: the two recipe walks, unpacking a packet into a dict and building a
// packet from values, and the one-time set-up they need.
//
// The walks return their failures as values. Where a failure comes from the interpreter (a
// failed lookup, an __index__ that raised, an allocation), its exception stays set in the
// interpreter's error indicator and the value says so (ErrorKind::raised); the walks never
// clear or replace an exception, except that packing turns the interpreter's failure to
// allocate the packet into its own MemoryError text.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/field.hpp"
#include "core/platform.hpp"
#include "core/result.hpp"
#include "core/text.hpp"
#include "py/convert.hpp"
#include "py/ref.hpp"

namespace telbit {

// Makes the interned key names and the other objects the walks use; once, at module
// initialisation. False with an exception set when they cannot be made.
[[nodiscard]] bool init_recipe_layer();

// Where a walk failed, for the note its error carries; filled on the failure path only.
struct FailurePlace {
    Py_ssize_t entry = -1;  // the failing entry's index in the recipe, -1 outside any entry
    Ref item;               // the entry itself
    Ref name;               // its "name", when the walk had read it
    bool has_field = false;
    std::uint64_t first = 0;  // unpacking: where the field's bytes start in the packet
    ByteSpan field;           // and the bytes, inside the caller's packet

    // Out of line: the walks' loops stay as they are without it.
    TELBIT_NOINLINE void record(Py_ssize_t index, PyObject* entry_item, PyObject* entry_name,
                                const ByteSpan* packet = nullptr, const ByteSpan* bytes = nullptr);
};

// "recipe entry 3 ('battery_temp'), bytes 4 to 6 of the packet: 0A FF": the entry's index,
// its name as the entry holds it (when it is a str), and where the field lies; empty outside
// any entry. For the failure path only: it may run Python code (looking the name up), and
// must be called with no exception set.
[[nodiscard]] std::string describe_failure_place(const FailurePlace& place);

// The same as the notes of a wrapped error (py/errors.hpp): none outside any entry.
[[nodiscard]] inline auto notes_for(const FailurePlace& place) {
    return [&place] {
        std::vector<std::string> notes;
        if (std::string note = describe_failure_place(place); !note.empty()) notes.push_back(std::move(note));
        return notes;
    };
}

// "Field '{name}' needs bytes {first} to {end} but the packet has {length} bytes".
[[nodiscard]] Error span_error(PyObject* name, FieldSpan span, std::size_t length);

// Walk the recipe, a list or tuple, over the packet from bit `offset_bits`; the result is a
// new dict. Throws std::bad_alloc when C++ cannot allocate.
[[nodiscard]] Result<Ref> process_recipe(ByteSpan packet, std::uint64_t offset_bits, PyObject* recipe_sequence,
                                         FailurePlace& place);

// Size, fill and return a new bytes packet for the recipe and the values dict. Throws
// std::bad_alloc when C++ cannot allocate.
[[nodiscard]] Result<Ref> build_packet(RecipeItems& recipe, PyObject* values, FailurePlace& place);

}  // namespace telbit
