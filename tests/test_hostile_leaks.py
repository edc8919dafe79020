"""Hostile paths keep every reference count: the objects a call is given, the objects its
hostile hooks create, and the interpreter's block count over many rounds."""

import gc
import sys
from collections.abc import Sequence

import pytest

import telbit
from helpers import field

PACKET = bytes(range(1, 33))


class Hook:
    """An __index__ (and __float__) that runs `action`, then answers `value`."""

    def __init__(self, value, action=lambda: None):
        self.value, self.action = value, action

    def __index__(self):
        self.action()
        return self.value

    def __float__(self):
        self.action()
        return float(self.value)


class Spiteful(Exception):
    def __str__(self):
        raise RuntimeError("no text")


class Unrepresentable:
    def __repr__(self):
        raise RuntimeError("no repr")


def raiser(make_exception):
    # A new exception each time: one raised again keeps a growing traceback alive.
    def action():
        raise make_exception()
    return action


class Growing(str):
    armed = None

    def __hash__(self):
        return hash("bits")

    def __eq__(self, other):
        if Growing.armed is not None:
            target, Growing.armed = Growing.armed, None
            for i in range(20):
                target[f"filler{i}"] = i
        return False


class HalfIterable(Sequence):
    def __init__(self, items):
        self.items = items

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, index):
        return self.items[index]

    def __iter__(self):
        yield self.items[0]
        raise OSError("half-way")


class Name(str):
    def __hash__(self):
        raise ZeroDivisionError("no hash")


class Packet(bytes):
    def __len__(self):
        return 10**9


def swallow(call):
    try:
        call()
    except Exception:
        pass


def case_renamed_mid_read():
    victim = "".join(["vic", "tim"])
    entry = field("a", "unsigned", 8)

    def call():
        entry["name"] = "a"
        entry["bits"] = Hook(8, lambda: entry.__setitem__("name", victim))
        swallow(lambda: telbit.unpack_parameters(PACKET, 0, [entry]))
    return call, [entry, victim]


def case_emptied_values():
    recipe = [field("a", "unsigned", 8), field("b", "ieee754_f32", 32)]
    values = {}

    def call():
        values.update(a=Hook(7, values.clear), b=1.5)
        swallow(lambda: telbit.pack_parameters(recipe, values))
    return call, [recipe, values, *recipe]


def case_text_that_fails():
    recipe = [field("a", "unsigned", Hook(0, raiser(Spiteful))),
              field("b", "unsigned", 8, offset_bits=Hook(0, raiser(lambda: KeyError(Unrepresentable()))))]
    return lambda: (swallow(lambda: telbit.unpack_parameters(PACKET, 0, recipe[:1])),
                    swallow(lambda: telbit.unpack_parameters(PACKET, 0, recipe[1:]))), [recipe, *recipe]


def case_changing_extent():
    values = {"x": 5, "t": "text"}

    def call():
        answers = iter([8, 2**32 - 1])
        recipe = [field("x", "unsigned", Hook(0, lambda: None)), field("t", "utf8", 16)]
        recipe[0]["bits"] = type("Once", (), {"__index__": lambda self: next(answers, 2**32 - 1)})()
        swallow(lambda: telbit.pack_parameters(recipe, values))
    return call, [values, values["t"]]


def case_runaway_reentry():
    entry = field("a", "unsigned", None)
    entry["bits"] = Hook(8, lambda: telbit.unpack_parameters(PACKET, 0, [entry]))
    return lambda: swallow(lambda: telbit.unpack_parameters(PACKET, 0, [entry])), [entry]


def case_growing_key():
    entry = {"name": "x", "encoding": "unsigned", Growing("k"): 1, "byte_order": "big", "reverse_bits": False,
             "bits": 8}

    def call():
        for i in range(20):
            entry.pop(f"filler{i}", None)
        Growing.armed = entry
        swallow(lambda: telbit.unpack_parameters(PACKET, 0, [entry]))
    return call, [entry]


def case_failing_iteration():
    items = [field("a", "unsigned", 8), field("b", "unsigned", 8)]
    recipe = HalfIterable(items)
    return lambda: (swallow(lambda: telbit.unpack_parameters(PACKET, 0, recipe)),
                    swallow(lambda: telbit.pack_parameters(recipe, {"a": 1}))), [recipe, items, *items]


def case_subclasses():
    name = Name("n")
    packet = Packet(b"\x05\x06")
    recipe = [field(name, type("E", (str,), {})("Utf8"), 16, type("B", (str,), {})("LITTLE"))]
    values = {"n": type("T", (str,), {})("hi")}
    return lambda: (swallow(lambda: telbit.unpack_parameters(packet, 0, recipe)),
                    swallow(lambda: telbit.pack_parameters(recipe, values))), [name, packet, recipe, values,
                                                                              values["n"], *recipe[0].values()]


def case_flag_impostor():
    impostor = type("numpy.bool_", (), {"__bool__": lambda self: True})()
    entry = field("f", "unsigned", 8, reverse_bits=impostor)
    return lambda: (swallow(lambda: telbit.unpack_parameters(PACKET, 0, [entry])),
                    swallow(lambda: telbit.pack_parameters([entry], {"f": 1}))), [impostor, entry]


def case_argument_hooks():
    class Error(TypeError):
        pass

    bad_index = Hook(0, raiser(lambda: Error("subclass")))
    plain_type_error = Hook(0, raiser(lambda: TypeError(Unrepresentable())))
    keyword = type("K", (str,), {"__str__": lambda self: 1 / 0})("zz")
    return lambda: (swallow(lambda: telbit.decode_twos_complement(bad_index, 8)),
                    swallow(lambda: telbit.encode_ieee754_f16(plain_type_error)),
                    swallow(lambda: telbit.decode_packed_bcd(1, **{keyword: 1}))), [bad_index, keyword]


CASES = {name[len("case_"):]: builder for name, builder in globals().items() if name.startswith("case_")}


@pytest.mark.parametrize("builder", CASES.values(), ids=CASES.keys())
def test_hostile_paths_keep_reference_counts(builder):
    call, watched = builder()
    watched = [o for o in watched if sys.getrefcount(o) < 10**8]  # immortal-like objects are shared
    call()
    gc.collect()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(20):
        call()
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == before


def test_hostile_paths_allocate_nothing_that_stays():
    calls = [builder()[0] for builder in CASES.values() if builder is not case_runaway_reentry]
    for call in calls:
        call()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(200):
        for call in calls:
            call()
    gc.collect()
    grown = sys.getallocatedblocks() - before
    assert grown < 100, f"{grown} blocks more after {200 * len(calls)} hostile calls"
