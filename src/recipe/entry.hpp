// Reading one recipe entry: its keys, their conversions, and the names it selects.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/result.hpp"
#include "module/ref.hpp"
#include "recipe/encoding_names.hpp"

namespace telbit {

// The keys an entry is read with, created once when the module is set up.
[[nodiscard]] bool init_recipe_keys();

struct Entry {
    // Strong references: a conversion of a later key may run Python code that changes the
    // entry, and the texts below point into these objects.
    Ref name;
    std::string_view name_text;
    Ref encoding;
    std::string_view encoding_text;
    std::uint32_t bits = 0;
    Ref byte_order;
    std::string_view byte_order_text;
    bool reverse_bits = false;
    bool has_offset = false;
    std::uint64_t offset = 0;
};

// Read every key in order: dict check, "name", "encoding", "bits", "byte_order",
// "reverse_bits", "offset_bits". The first failure is returned.
[[nodiscard]] Status read_entry(PyObject* item, Entry& entry);

// The extent of an entry as the packet's first sizing pass reads it: dict check, "bits",
// "offset_bits".
struct Extent {
    std::uint32_t bits = 0;
    bool has_offset = false;
    std::uint64_t offset = 0;
};
[[nodiscard]] Status read_extent(PyObject* item, Extent& extent);

// The entry's name as an exact str, for use as a dict key.
[[nodiscard]] Result<Ref> name_key(const Entry& entry);

// The encoding the entry's "encoding" selects after lower-casing (nothing when the name is
// unknown); an error only when lower-casing itself fails.
[[nodiscard]] Result<std::optional<Encoding>> match_encoding(const Entry& entry);

// Whether the entry's "byte_order" is "little" (true) or "big" (false), or the byte-order error.
[[nodiscard]] Result<bool> match_byte_order(const Entry& entry);

[[nodiscard]] Error unsupported_encoding(const Entry& entry);

}  // namespace telbit
