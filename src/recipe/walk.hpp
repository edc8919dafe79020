// The two recipe walks: unpacking a packet into a dict, and building a packet from values.
#pragma once

#include <Python.h>

#include <cstdint>

#include "core/result.hpp"
#include "core/text.hpp"
#include "module/convert.hpp"
#include "module/ref.hpp"

namespace telbit {

// Walk the recipe over the packet from bit `offset_bits`; the result is a new dict.
[[nodiscard]] Result<Ref> process_recipe(ByteSpan packet, std::uint64_t offset_bits, ItemView recipe);

// Size, fill and return a new bytes packet for the recipe and the values dict.
[[nodiscard]] Result<Ref> build_packet(ItemView recipe, PyObject* values);

}  // namespace telbit
