// Holds the table of encodings to what the walks take on trust from it: each row decodes in
// exactly one way and encodes in at most one, its family and kinds agree with the ways it
// has, and a lower-cased name finds its own row and no other. (The table cannot say this
// about itself in a static_assert: g++ with -fsanitize=undefined refuses to compare function
// pointers with null in a constant expression.)
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "core/codecs.hpp"

using namespace telbit;
using check::require;

namespace {

static_assert(codecs.size() == 34);

// codec_index runs only at compile time; here it is asked for every row's name.
constexpr std::array<std::size_t, codecs.size()> compiled_indices = []() consteval {
    std::array<std::size_t, codecs.size()> indices{};
    for (std::size_t i = 0; i < codecs.size(); ++i) indices[i] = codec_index(codecs[i].name);
    return indices;
}();

void rows() {
    int packable = 0;
    for (std::size_t i = 0; i < codecs.size(); ++i) {
        const Codec& codec = codecs[i];
        const std::string name(codec.name);
        const int decoders = (codec.decode != nullptr) + (codec.decode_checked != nullptr) +
                             (codec.decode_text != nullptr) + (codec.refuse != nullptr);
        require(decoders == 1, name + " has " + std::to_string(decoders) + " ways to decode");
        require((codec.encode_number != nullptr) + (codec.encode_text != nullptr) <= 1, name + " has two encoders");
        require(codec.is_text() == (codec.decode_text != nullptr), name + ": text family and text decoder disagree");
        require((codec.takes == ValueKind::none) == !codec.packable(), name + ": what it takes and its encoder differ");
        packable += codec.packable() ? 1 : 0;

        bool lower = !name.empty();
        for (const char c : name) lower = lower && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
        require(lower, "'" + name + "' is not a lower-case name");
        for (std::size_t j = 0; j < i; ++j) require(codecs[j].name != codec.name, "two rows are named " + name);
        require(compiled_indices[i] == i, "codec_index(\"" + name + "\") is not its row");
    }
    require(packable == 22, std::to_string(packable) + " rows can be packed, not 22");
}

// The row a plain search of the table finds, to hold find_codec's indexed lookup against.
const Codec* searched(std::string_view name) {
    for (const Codec& codec : codecs) {
        if (codec.name == name) return &codec;
    }
    return nullptr;
}

// Every name, and what a caller might hand over instead: a character more or less, one
// character changed, a trailing NUL, upper case (the caller lower-cases first, so upper case
// must miss), the empty name and names longer than any in the table.
void lookup() {
    std::vector<std::string> names = {"", std::string(longest_codec_name + 1, 'u'), std::string(1000, 'a')};
    for (const Codec& codec : codecs) {
        const std::string name(codec.name);
        names.push_back(name);
        names.push_back(name + "_");
        names.push_back(name + "s");
        names.push_back(name + '\0');
        names.push_back(name.substr(0, name.size() - 1));
        names.push_back(name.substr(1));
        std::string upper = name;
        for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        names.push_back(upper);
        names.push_back(upper.substr(0, 1) + name.substr(1));
        for (std::size_t k = 0; k < name.size(); ++k) {
            std::string changed = name;
            changed[k] = changed[k] == 'z' ? 'a' : static_cast<char>(changed[k] + 1);
            names.push_back(changed);
        }
    }
    for (const std::string& name : names) {
        require(find_codec(name) == searched(name), "find_codec(\"" + name + "\") is not the row a search finds");
    }
}

}  // namespace

int main() {
    rows();
    lookup();
    return check::verdict();
}
