"""Hostile paths keep every reference count: the objects a call is given, the objects its
hostile hooks create, and the interpreter's block count over many rounds."""

import pytest

import telbit
from helpers import field
from hostile import (Changing, Index, LyingBytes, LyingSequence, Meddling, Number, Spiteful, Unhashable,
                     Unrepresentable, grow, impostor, raiser)
from leakcheck import assert_allocates_nothing_that_stays, assert_keeps_refcounts, swallow

PACKET = bytes(range(1, 33))


def case_renamed_mid_read():
    victim = "".join(["vic", "tim"])
    entry = field("a", "unsigned", 8)

    def call():
        entry["name"] = "a"
        entry["bits"] = Index(8, lambda: entry.__setitem__("name", victim))
        swallow(lambda: telbit.unpack_parameters(PACKET, 0, [entry]))
    return call, [entry, victim]


def case_emptied_values():
    recipe = [field("a", "unsigned", 8), field("b", "ieee754_f32", 32)]
    values = {}

    def call():
        values.update(a=Index(7, values.clear), b=1.5)
        swallow(lambda: telbit.pack_parameters(recipe, values))
    return call, [recipe, values, *recipe]


def case_text_that_fails():
    recipe = [field("a", "unsigned", Index(0, raiser(Spiteful))),
              field("b", "unsigned", 8, offset_bits=Index(0, raiser(KeyError, Unrepresentable())))]
    return lambda: (swallow(lambda: telbit.unpack_parameters(PACKET, 0, recipe[:1])),
                    swallow(lambda: telbit.unpack_parameters(PACKET, 0, recipe[1:]))), [recipe, *recipe]


def case_changing_extent():
    values = {"x": 5, "t": "text"}

    def call():
        recipe = [field("x", "unsigned", Changing(8, 2**32 - 1)), field("t", "utf8", 16)]
        swallow(lambda: telbit.pack_parameters(recipe, values))
    return call, [values, values["t"]]


def case_runaway_reentry():
    entry = field("a", "unsigned", None)
    entry["bits"] = Index(8, lambda: telbit.unpack_parameters(PACKET, 0, [entry]))
    return lambda: swallow(lambda: telbit.unpack_parameters(PACKET, 0, [entry])), [entry]


def case_growing_key():
    entry = {"name": "x", "encoding": "unsigned", Meddling("k"): 1, "byte_order": "big", "reverse_bits": False,
             "bits": 8}

    def call():
        for i in range(100):
            entry.pop(f"filler{i}", None)
        Meddling.then = grow(entry)
        swallow(lambda: telbit.unpack_parameters(PACKET, 0, [entry]))
    return call, [entry]


def case_failing_iteration():
    items = [field("a", "unsigned", 8), field("b", "unsigned", 8)]
    recipe = LyingSequence(items, fail_at=1)
    return lambda: (swallow(lambda: telbit.unpack_parameters(PACKET, 0, recipe)),
                    swallow(lambda: telbit.pack_parameters(recipe, {"a": 1}))), [recipe, items, *items]


def case_subclasses():
    name = Unhashable("n")
    packet = LyingBytes(b"\x05\x06")
    recipe = [field(name, type("E", (str,), {})("Utf8"), 16, type("B", (str,), {})("LITTLE"))]
    values = {"n": type("T", (str,), {})("hi")}
    return lambda: (swallow(lambda: telbit.unpack_parameters(packet, 0, recipe)),
                    swallow(lambda: telbit.pack_parameters(recipe, values))), [name, packet, recipe, values,
                                                                              values["n"], *recipe[0].values()]


def case_flag_impostor():
    flag = impostor()
    entry = field("f", "unsigned", 8, reverse_bits=flag)
    return lambda: (swallow(lambda: telbit.unpack_parameters(PACKET, 0, [entry])),
                    swallow(lambda: telbit.pack_parameters([entry], {"f": 1}))), [flag, entry]


def case_argument_hooks():
    class Error(TypeError):
        pass

    bad_index = Index(0, raiser(Error, "subclass"))
    plain_type_error = Number(0, raiser(TypeError, Unrepresentable()))
    keyword = type("K", (str,), {"__str__": lambda self: 1 / 0})("zz")
    return lambda: (swallow(lambda: telbit.decode_twos_complement(bad_index, 8)),
                    swallow(lambda: telbit.encode_ieee754_f16(plain_type_error)),
                    swallow(lambda: telbit.decode_packed_bcd(1, **{keyword: 1}))), [bad_index, keyword]


CASES = {name[len("case_"):]: builder for name, builder in globals().items() if name.startswith("case_")}


@pytest.mark.parametrize("builder", CASES.values(), ids=CASES.keys())
def test_hostile_paths_keep_reference_counts(builder):
    assert_keeps_refcounts(*builder())


def test_hostile_paths_allocate_nothing_that_stays():
    calls = [builder()[0] for builder in CASES.values() if builder is not case_runaway_reentry]
    assert_allocates_nothing_that_stays(calls, rounds=200)
