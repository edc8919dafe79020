"""No reference is leaked or lost, on success and on every kind of error path."""

import pytest

import telbit
from helpers import field
from hostile import Index, raiser
from leakcheck import assert_allocates_nothing_that_stays, assert_keeps_refcounts

RECIPE = [
    field("a", "unsigned", 12),
    field("b", "twos_complement", 12, "little"),
    field("c", "utf8", 16, offset_bits=24),
    field("d", "packed_bcd", 8),
    field("e", "ieee754_f32", 32, "little", True),
]
VALUES = {"a": 0xABC, "b": -5, "c": "ok", "d": 42, "e": 1.5}
PACKET = bytes.fromhex("ABCDEF4142125678ABCD")


def name_of_encoder(name):
    return name.startswith("encode_")


def call_cases():
    """(label, function, args, kwargs) covering success and error paths of every function."""
    cases = [
        ("unpack ok", telbit.unpack_parameters, (PACKET, 0, RECIPE), {}),
        ("unpack tuple", telbit.unpack_parameters, (PACKET, 0, tuple(RECIPE)), {}),
        ("unpack walk error", telbit.unpack_parameters, (PACKET, 0, RECIPE + [field("x", "nope", 8)]), {}),
        ("unpack span error", telbit.unpack_parameters, (b"\x00", 0, RECIPE), {}),
        ("unpack key error", telbit.unpack_parameters, (PACKET, 0, [{"name": "x"}]), {}),
        ("unpack raising index", telbit.unpack_parameters,
         (PACKET, 0, [field("x", "unsigned", Index(0, raiser(RuntimeError, "boom")))]), {}),
        ("unpack reserved", telbit.unpack_parameters, (PACKET, 0, [field("x", "ti_f32", 8)]), {}),
        ("unpack bad arg", telbit.unpack_parameters, (PACKET, 0, "recipe"), {}),
        ("unpack keywords", telbit.unpack_parameters, (), {"packet_bytes": PACKET, "offset_bits": 0,
                                                          "recipe": RECIPE}),
        ("pack ok", telbit.pack_parameters, (RECIPE, VALUES), {}),
        ("pack missing value", telbit.pack_parameters, (RECIPE, {"a": 1}), {}),
        ("pack bad value", telbit.pack_parameters, (RECIPE, dict(VALUES, b=10**6)), {}),
        ("pack lone surrogate", telbit.pack_parameters, (RECIPE, dict(VALUES, c="\ud800")), {}),
        ("pack memory", telbit.pack_parameters, ([field("a", "unsigned", 8, offset_bits=2**63)], {"a": 1}), {}),
        ("pack bad values arg", telbit.pack_parameters, (RECIPE, []), {}),
    ]
    for name in telbit.__all__[2:]:
        function = getattr(telbit, name)
        if "utf" in name or name.endswith(("ascii", "8859_1", "1252")):
            good = ("A\xe9\u20ac\U0001F600",) if name_of_encoder(name) else (b"\xfe\xff\x00A\x00B",)
            bad_operation = ("\u20ac\U0001F600",) if name_of_encoder(name) else (b"\xff\xfe\x00\xd8\x80",)
        elif name.endswith("_bcd"):
            good = (0x1234, 16) if name.startswith("decode") else (1234, 16)
            bad_operation = (0x12AF, 16, True) if name.startswith("decode") else (12345, 8)
        elif "complement" in name or "magnitude" in name:
            good = (200, Index(8))
            bad_operation = (500, 4) if name.startswith("encode") else (1, 2, 3)
        else:
            good = (1,)
            bad_operation = (1,)
        cases.append((f"{name} ok", function, good, {}))
        cases.append((f"{name} operation error", function, bad_operation, {}))
        cases.append((f"{name} conversion error", function, (object(),) + good[1:], {}))
        cases.append((f"{name} binding error", function, good, {"unknown": 1}))
    return cases


CASES = call_cases()


@pytest.mark.parametrize("label, function, args, kwargs", CASES, ids=[c[0] for c in CASES])
def test_argument_refcounts_unchanged(label, function, args, kwargs):
    assert_keeps_refcounts(lambda: function(*args, **kwargs), [*args, *kwargs.values()], collect=False)


def test_no_growth_in_allocated_blocks():
    assert_allocates_nothing_that_stays([lambda c=c: c[1](*c[2], **c[3]) for c in CASES], rounds=300)


def test_recipe_items_refcounts_unchanged():
    entries = [dict(e) for e in RECIPE]

    def call():
        telbit.unpack_parameters(PACKET, 0, entries)
        telbit.pack_parameters(entries, VALUES)
        telbit.pack_parameters(entries, {})

    assert_keeps_refcounts(call, entries + [e["name"] for e in entries] + list(VALUES.values()), rounds=50)
