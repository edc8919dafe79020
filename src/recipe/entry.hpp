// Reading one recipe entry: its keys, their conversions, and the names it selects.
#pragma once

#include <Python.h>

#include <array>
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
    // The text values, borrowed from the entry. They stay valid while no Python code can run;
    // `hold()` takes strong references for when it can (and the slow read path always does).
    PyObject* name = nullptr;
    std::string_view name_text;
    PyObject* encoding = nullptr;
    std::string_view encoding_text;
    std::uint32_t bits = 0;
    PyObject* byte_order = nullptr;
    std::string_view byte_order_text;
    bool reverse_bits = false;
    bool has_offset = false;
    std::uint64_t offset = 0;
    std::array<Ref, 3> held;

    void hold() {
        if (!held[0]) held = {Ref::borrow(name), Ref::borrow(encoding), Ref::borrow(byte_order)};
    }
};

// Read every key in order: dict check, "name", "encoding", "bits", "byte_order",
// "reverse_bits", "offset_bits". The first failure is returned. When the entry's keys are all
// plain str and its numbers plain ints, the keys are taken in one pass over its items and no
// Python code runs while it is read; otherwise each key is looked up in turn and the texts
// are held by strong references.
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

// Lower-cases and matches the "encoding" and "byte_order" texts. Recipes repeat the same
// str objects from entry to entry, so the last answer for each is kept (with a strong
// reference, so the object cannot be replaced by another at the same address) for the
// duration of one walk.
class NameMatcher {
public:
    // The encoding the entry selects (nothing when the name is unknown); an error only when
    // lower-casing itself fails.
    [[nodiscard]] Result<std::optional<Encoding>> encoding(const Entry& entry);
    // Whether the byte order is "little" (true) or "big" (false), or the byte-order error.
    [[nodiscard]] Result<bool> little_endian(const Entry& entry);

private:
    Ref encoding_object_;
    std::optional<Encoding> encoding_;
    Ref byte_order_object_;
    bool little_ = false;
};

[[nodiscard]] Error unsupported_encoding(const Entry& entry);

}  // namespace telbit
