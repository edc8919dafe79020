// build_packet: sizes the packet from the recipe, then encodes each value into its field.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "core/codecs.hpp"
#include "core/field.hpp"
#include "recipe/entry.hpp"
#include "recipe/walk.hpp"

namespace telbit {
namespace {

// The packet length in bytes for `total` bits, or an error when no bytes object can hold it.
Result<Py_ssize_t> packet_length(std::uint64_t total) {
    const std::uint64_t length = total / 8 + (total % 8 != 0 ? 1 : 0);
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<Py_ssize_t>::max()) - 64;
    if (length > largest) {
        return memory_error("cannot allocate a packet of " + std::to_string(length) + " bytes");
    }
    return static_cast<Py_ssize_t>(length);
}

// The points of one call at which Python code may run (an __index__, a key's __eq__, a
// finaliser). Before each, the recipe is copied out of the reach of that code, and the points
// are counted: an entry read when the count stood where it stands now is unchanged since,
// because nothing could have touched it.
class CodeRuns {
public:
    explicit CodeRuns(RecipeItems& recipe) noexcept : recipe_(recipe) {}
    void before_code() {
        recipe_.snapshot();
        ++count_;
    }
    [[nodiscard]] std::uint64_t count() const noexcept { return count_; }

private:
    RecipeItems& recipe_;
    std::uint64_t count_ = 0;
};

// An entry as the sizing pass found it in its plain form, for the writing pass to take
// instead of reading the entry again while no Python code has run since: the second reading
// would then see the same, so leaving it out is unobservable. Its texts are borrowed from the
// entry dict, which still holds them.
struct PlannedEntry {
    Entry entry;
    std::uint64_t read_at = 0;  // CodeRuns::count() when it was read
    bool plain = false;
};
static_assert(std::is_trivially_destructible_v<PlannedEntry>);

// One call's plans, on the stack for recipes of usual length. The slots are left
// uninitialised until the sizing pass creates them: zeroing them would cost as much as
// planning.
class Plan {
public:
    explicit Plan(std::size_t count) {
        if (count > local_capacity) {
            heap_.reset(new Storage[count]);  // NOLINT: raw storage, see create()
            slots_ = heap_.get();
        }
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
    ~Plan() = default;  // PlannedEntry needs no destruction: it owns nothing

    // The sizing pass creates every slot, in order, before the writing pass reads any.
    PlannedEntry& create(std::size_t i) noexcept { return *new (slots_[i].bytes) PlannedEntry; }
    [[nodiscard]] const PlannedEntry& operator[](std::size_t i) const noexcept {
        return *std::launder(reinterpret_cast<const PlannedEntry*>(slots_[i].bytes));
    }

private:
    struct Storage {
        alignas(PlannedEntry) unsigned char bytes[sizeof(PlannedEntry)];
    };
    static constexpr std::size_t local_capacity = 32;  // 1.5 KiB: the walk may be re-entered deeply
    Storage local_[local_capacity];
    std::unique_ptr<Storage[]> heap_;
    Storage* slots_ = local_;
};

// Finds each entry's value in `values`, looked up in the dict's own storage.
//
// A values dict is usually built in the recipe's order, so its items are walked alongside the
// entries: where the key at hand is the entry's very name object, or an exact str of the same
// ASCII characters (a recipe and values read from a file share no objects), that item is what
// a lookup would find (a dict holds one key of each value), and no lookup is made. Once a key
// differs, every name is looked up.
//
// A lookup runs Python code when a stored key other than an exact str shares the name's hash
// (its __eq__ is asked). Whether any can is found out by a look at every key, once in a call:
// it holds until Python code may have run, and from then on every lookup is taken to run code.
// Looking again after each such point would cost a pass over the values per entry, which is
// quadratic in a recipe whose entries all run code.
class ValueFinder {
public:
    explicit ValueFinder(PyObject* values) noexcept : values_(values) {}

    // The value of the item beside the walk when its key equals `name`, an exact str; null
    // otherwise. Runs no Python code: str equality is compared here, not asked of the key.
    [[nodiscard]] PyObject* alongside(PyObject* name) noexcept {
        if (!in_step_) return nullptr;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        if (PyDict_Next(values_, &position_, &key, &value) && (key == name || same_ascii_str(key, name))) return value;
        in_step_ = false;
        return nullptr;
    }

    // Whether looking a name up runs no Python code, as of the given count of code runs;
    // false whenever code may have run since the keys were looked at.
    [[nodiscard]] bool lookups_run_no_code(std::uint64_t runs) noexcept {
        if (!checked_) {
            checked_ = true;
            checked_at_ = runs;
            plain_keys_ = every_key_exact_str();
        }
        return plain_keys_ && checked_at_ == runs;
    }

    // Borrowed from `values`; null when absent, with the interpreter's error set when the
    // lookup itself failed.
    [[nodiscard]] PyObject* look_up(PyObject* key) noexcept { return PyDict_GetItemWithError(values_, key); }

private:
    [[nodiscard]] static bool same_ascii_str(PyObject* key, PyObject* name) noexcept {
        if (!PyUnicode_CheckExact(key) || !PyUnicode_IS_COMPACT_ASCII(key) || !PyUnicode_IS_COMPACT_ASCII(name)) {
            return false;
        }
        const Py_ssize_t length = PyUnicode_GET_LENGTH(key);
        return length == PyUnicode_GET_LENGTH(name) &&
               same_bytes(static_cast<const char*>(PyUnicode_DATA(key)), static_cast<const char*>(PyUnicode_DATA(name)),
                          static_cast<std::size_t>(length));
    }

    [[nodiscard]] bool every_key_exact_str() const noexcept {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(values_, &position, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) return false;
        }
        return true;
    }

    PyObject* values_;
    Py_ssize_t position_ = 0;
    bool in_step_ = true;
    bool checked_ = false;
    bool plain_keys_ = false;
    std::uint64_t checked_at_ = 0;
};

Error missing_value(PyObject* name) {
    std::string message = "Missing value for parameter: '";
    message += entry_text(name);
    message += "'";
    return key_error(std::move(message));
}

}  // namespace

Result<Ref> build_packet(RecipeItems& recipe, PyObject* values, FailurePlace& place) {
    const auto count = static_cast<std::size_t>(recipe.size());
    CodeRuns runs(recipe);
    Plan plan(count);
    NameMatcher names;  // what this walk learns of the recipe's names
    // First pass: the packet's size. An entry without an offset is counted from the
    // furthest end reached so far.
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* item = recipe[static_cast<Py_ssize_t>(i)];
        PlannedEntry& planned = plan.create(i);
        Extent extent;
        if (PyDict_Check(item) && read_plain_entry(item, planned.entry, names)) {
            // Reading the whole entry here is not observable: it runs no code and cannot fail.
            planned.plain = true;
            planned.read_at = runs.count();
            extent.bits = planned.entry.bits;
            extent.has_offset = planned.entry.has_offset;
            extent.offset = planned.entry.offset;
        } else {
            runs.before_code();
            if (Status status = read_extent(item, extent); !status) {
                place.record(static_cast<Py_ssize_t>(i), item, nullptr);
                return std::move(status).error();
            }
        }
        const std::uint64_t start = extent.has_offset ? extent.offset : total;
        total = std::max(total, start + extent.bits);
    }
    Result<Py_ssize_t> length = packet_length(total);
    if (!length) return std::move(length).error();
    // A bytes object: not tracked by the garbage collector, so making it runs no code.
    Ref packet = Ref::steal(PyBytes_FromStringAndSize(nullptr, *length));
    if (!packet) {
        if (!PyErr_ExceptionMatches(PyExc_MemoryError)) return already_raised();
        PyErr_Clear();
        return memory_error("cannot allocate a packet of " + std::to_string(*length) + " bytes");
    }
    const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(packet.get())),
                                        static_cast<std::size_t>(*length));
    std::memset(bytes.data(), 0, bytes.size());

    // Second pass: each value converted and written at its field.
    std::uint64_t running = 0;
    ValueFinder finder(values);
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* item = recipe[static_cast<Py_ssize_t>(i)];
        Entry entry;
        EntryHold hold;
        const auto failed = [&](Error error) -> Error {
            place.record(static_cast<Py_ssize_t>(i), item, entry.name);
            return error;
        };
        if (const PlannedEntry& planned = plan[i]; planned.plain && planned.read_at == runs.count()) {
            entry = planned.entry;  // its texts are still the entry's: no code has run since they were read
        } else if (!PyDict_Check(item) || !read_plain_entry(item, entry, names)) {
            runs.before_code();
            if (Status status = read_entry(item, entry, hold); !status) return failed(std::move(status).error());
        }

        // Until the bytes are written, the entry's texts are borrowed (or held), and so is the
        // value; each point that may run Python code holds what is used after it first.
        const bool exact_name = PyUnicode_CheckExact(entry.name);
        PyObject* found = exact_name ? finder.alongside(entry.name) : nullptr;
        if (found == nullptr) {
            if (!finder.lookups_run_no_code(runs.count())) {
                hold.hold(entry);
                runs.before_code();
            }
            if (exact_name) {
                found = finder.look_up(entry.name);
            } else {
                Result<Ref> key = name_key(entry.name);
                if (!key) return failed(std::move(key).error());
                found = finder.look_up(key->get());
            }
            if (found == nullptr) {
                if (PyErr_Occurred()) return failed(already_raised());
                return failed(missing_value(entry.name));
            }
        }
        const std::uint64_t start = entry.has_offset ? entry.offset : running;

        const Codec* codec = nullptr;
        if (Status status = names.codec(entry.encoding, codec); !status) return failed(std::move(status).error());
        if (codec == nullptr || !codec->packable()) return failed(unsupported_encoding(entry.encoding));

        Ref value;  // held only where converting it may run code that drops it from `values`
        if (!converts_without_code(codec->takes, found)) {
            hold.hold(entry);
            value = Ref::borrow(found);
            runs.before_code();
        }
        if (codec->is_text()) {
            Result<std::string_view> utf8 = to_text(found);
            if (!utf8) return failed(std::move(utf8).error());
            Result<EncodedText> text = codec->encode_text(*utf8);
            if (!text) return failed(std::move(text).error());
            bool little = false;
            if (Status status = names.byte_order(entry.byte_order, little); !status) {
                return failed(std::move(status).error());
            }
            write_field_text(bytes, start / 8, text->bytes(), entry.bits, little);
        } else {
            std::uint64_t word = 0;
            if (!plain_word(codec->takes, found, word)) {
                Result<std::uint64_t> converted = to_word(codec->takes, found);
                if (!converted) return failed(std::move(converted).error());
                word = *converted;
            }
            Result<std::uint64_t> pattern = codec->encode_number(word, entry.bits);
            if (!pattern) return failed(std::move(pattern).error());
            bool little = false;
            if (Status status = names.byte_order(entry.byte_order, little); !status) {
                return failed(std::move(status).error());
            }
            write_field_pattern(bytes, start / 8, *pattern, entry.bits, little, entry.reverse_bits);
        }
        running = start + entry.bits;
    }
    return packet;
}

}  // namespace telbit
