"""Hostile objects in recipes, values and arguments: the documented exception or result,
never a crash, a use of freed memory or a leaked reference (the sanitizer run checks the
memory side of every test here)."""

import gc
import sys
from collections.abc import Sequence

import pytest

import telbit
from helpers import field, wrapped

PACKET = bytes(range(1, 33))


def unpack(recipe, packet=PACKET):
    return telbit.unpack_parameters(packet, 0, recipe)


class Mutating:
    """An __index__ that runs arbitrary code, then answers."""

    def __init__(self, value, action):
        self.value = value
        self.action = action

    def __index__(self):
        self.action()
        return self.value


def test_index_that_empties_the_entry_being_read():
    # The keys read after "bits" are gone; the name and encoding read before stay valid.
    entry = field("name-" + "x" * 20, "unsigned", None)
    entry["bits"] = Mutating(8, entry.clear)
    with pytest.raises(ValueError) as info:
        unpack([entry])
    assert str(info.value) == wrapped(KeyError, repr("Recipe missing required field: 'byte_order'"))


def test_index_that_replaces_the_name_while_it_is_used():
    entry = field("".join(["temperature", "_sensor"]), "unsigned", None)

    def replace():
        entry["name"] = "other"
        entry["encoding"] = "utf8"
        gc.collect()

    entry["bits"] = Mutating(8, replace)
    # The walk keeps the name and encoding it has read.
    assert unpack([entry]) == {"temperature_sensor": 1}
    assert entry["name"] == "other"


def test_offset_that_mutates_the_recipe_list():
    recipe = [field("a", "unsigned", 8), field("b", "unsigned", 8)]
    recipe[0]["offset_bits"] = Mutating(8, lambda: (recipe.clear(), recipe.append("junk"), gc.collect()))
    # The recipe was collected when the call began; changing the list does not change the walk.
    assert unpack(recipe) == {"a": 2, "b": 3}
    assert recipe == ["junk"]


def test_value_that_empties_the_values_and_the_recipe():
    recipe = [field("a", "unsigned", 8), field("b", "twos_complement", 8)]
    values = {}
    values["a"] = Mutating(7, lambda: (values.clear(), recipe[1].clear(), gc.collect()))
    values["b"] = -1
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters(recipe, values)
    # The second entry was emptied by the first value's conversion.
    assert str(info.value) == wrapped(KeyError, repr("Recipe missing required field: 'name'"))


def test_value_whose_conversion_frees_the_entry_text():
    recipe = [field("".join(["long_name_", "abc"]), "".join(["unsig", "ned"]), 8, "".join(["BI", "G"]))]

    def scrub():
        recipe[0]["name"] = recipe[0]["encoding"] = recipe[0]["byte_order"] = None
        gc.collect()

    assert telbit.pack_parameters(recipe, {"long_name_abc": Mutating(9, scrub)}) == b"\x09"


class ClearingKey(str):
    """A key whose comparison clears the dict that holds it."""

    target = None

    def __hash__(self):
        return hash("bits")

    def __eq__(self, other):
        if ClearingKey.target is not None:
            ClearingKey.target.clear()
            ClearingKey.target = None
        return False


def test_key_comparison_that_clears_the_entry():
    entry = {"name": "x", "encoding": "unsigned", ClearingKey("k"): 1, "byte_order": "big", "reverse_bits": False}
    entry["bits"] = 8
    ClearingKey.target = entry
    with pytest.raises(ValueError) as info:
        unpack([entry])
    # Looking up "bits" compared with the odd key, which emptied the entry.
    assert str(info.value).startswith("KeyError: ")


def test_values_key_comparison_that_clears_values():
    values = {ClearingKey("k"): 0}
    values["bits"] = 5
    ClearingKey.target = values
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("bits", "unsigned", 8)], values)
    assert str(info.value) == wrapped(KeyError, repr("Missing value for parameter: 'bits'"))


class RaisingHash(str):
    def __hash__(self):
        raise ZeroDivisionError("no hash")


def test_name_that_cannot_be_hashed_is_copied_to_a_plain_str():
    # The result key is a plain str equal to the name, so its own __hash__ never runs.
    assert unpack([field(RaisingHash("a"), "unsigned", 8)]) == {"a": 1}


@pytest.mark.parametrize("bad, exc_name", [
    (Mutating(2**70, lambda: None), "OverflowError"),
    (Mutating(-1, lambda: None), "OverflowError"),
    (Mutating(0, lambda: 1 / 0), "ZeroDivisionError"),
])
def test_index_results_and_failures(bad, exc_name):
    with pytest.raises(ValueError) as info:
        unpack([field("a", "unsigned", bad)])
    assert str(info.value).startswith(f"{exc_name}: ")
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("a", "unsigned", 8)], {"a": bad})
    assert str(info.value).startswith(f"{exc_name}: ")


def test_index_returning_non_int():
    class Weird:
        def __index__(self):
            return "eight"

    with pytest.raises(ValueError) as info:
        unpack([field("a", "unsigned", Weird())])
    assert str(info.value).startswith("TypeError: __index__ returned non-int")


def test_float_returning_non_float():
    class Weird:
        def __float__(self):
            return "x"

    with pytest.raises(TypeError):
        telbit.encode_ieee754_f64(Weird())
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("f", "ieee754_f64", 64)], {"f": Weird()})
    assert str(info.value).startswith("TypeError: ")


class LyingSequence(Sequence):
    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        return self.length

    def __getitem__(self, index):
        return self.items[index]


@pytest.mark.parametrize("length", [0, 1, 10**9])
def test_sequence_whose_length_lies(length):
    items = [field("a", "unsigned", 8), field("b", "unsigned", 8)]
    assert unpack(LyingSequence(items, length)) == {"a": 1, "b": 2}


def test_sequence_whose_iterator_raises():
    class Broken(Sequence):
        def __len__(self):
            return 3

        def __getitem__(self, index):
            raise MemoryError("simulated")

        def __iter__(self):
            yield field("a", "unsigned", 8)
            raise OSError("half-way")

    with pytest.raises(OSError, match="half-way"):
        unpack(Broken())
    with pytest.raises(OSError, match="half-way"):
        telbit.pack_parameters(Broken(), {})


def test_list_subclass_iteration_is_used():
    class Reversed(list):
        def __iter__(self):
            return iter(list(list.__iter__(self))[::-1])

    recipe = Reversed([field("a", "unsigned", 8, offset_bits=0), field("b", "unsigned", 8, offset_bits=8)])
    assert list(unpack(recipe)) == ["b", "a"]


def test_exception_str_failure_in_packing():
    class Unprintable(Exception):
        def __str__(self):
            raise RuntimeError("nope")

    class Bad:
        def __index__(self):
            raise Unprintable()

    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("a", "unsigned", 8)], {"a": Bad()})
    assert str(info.value).endswith(": <exception str() failed>")


def test_bytes_and_str_subclasses_everywhere():
    class B(bytes):
        def __len__(self):
            return 10**6

    class S(str):
        def __str__(self):
            return "other"

        def lower(self):
            return "utf8"

    recipe = [field(S("n"), S("UNSIGNED"), 8, S("Big"))]
    assert unpack(recipe, B(b"\x05")) == {"n": 5}
    assert telbit.decode_utf8(B(b"ok")) == "ok"
    assert telbit.encode_utf16be(S("A")) == b"\x00A"


def test_many_hostile_calls_keep_refcounts():
    entry = field("a", "unsigned", 8)
    victim = "".join(["vic", "tim"])
    before = sys.getrefcount(victim)
    for _ in range(200):
        entry["bits"] = Mutating(8, lambda: entry.__setitem__("name", victim))
        entry["name"] = "a"
        try:
            unpack([entry])
        except ValueError:
            pass
    entry["name"] = "a"
    entry["bits"] = 8
    gc.collect()
    assert sys.getrefcount(victim) == before
