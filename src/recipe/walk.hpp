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

#include "core/result.hpp"
#include "core/text.hpp"
#include "py/convert.hpp"
#include "py/ref.hpp"

namespace telbit {

// Makes the interned key names and the other objects the walks use; once, at module
// initialisation. False with an exception set when they cannot be made.
[[nodiscard]] bool init_recipe_layer();

// Walk the recipe over the packet from bit `offset_bits`; the result is a new dict. Throws
// std::bad_alloc when C++ cannot allocate.
[[nodiscard]] Result<Ref> process_recipe(ByteSpan packet, std::uint64_t offset_bits, RecipeItems& recipe);

// Size, fill and return a new bytes packet for the recipe and the values dict. Throws
// std::bad_alloc when C++ cannot allocate.
[[nodiscard]] Result<Ref> build_packet(RecipeItems& recipe, PyObject* values);

}  // namespace telbit
