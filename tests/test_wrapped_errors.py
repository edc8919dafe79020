"""The wrapped errors of the two walks: the inner exception as the cause, and a note naming the entry."""

import pytest

import telbit
from helpers import field
from hostile import Index
from leakcheck import assert_allocates_nothing_that_stays

PACKET = bytes.fromhex("0112FF3F")
GOOD = field("first", "unsigned", 8)


def unpack(*entries):
    return lambda: telbit.unpack_parameters(PACKET, 0, [GOOD, *entries])


def pack(*entries, **values):
    return lambda: telbit.pack_parameters([GOOD, *entries], {"first": 1, **values})


class Broken(Exception):
    pass


last_raised = []


def raising():
    # A new exception each time: one raised again would keep a growing traceback alive.
    last_raised[:] = [Broken("from the recipe's own code")]
    raise last_raised[0]


# (call, inner class, note); the failing entry is always entry 1, after a good one.
CASES = {
    "missing key": (unpack({"name": "level", "encoding": "unsigned", "byte_order": "big", "reverse_bits": False}),
                    KeyError, "recipe entry 1 ('level')"),
    "bad encoding": (unpack(field("level", "unsinged", 8)), ValueError,
                     "recipe entry 1 ('level'), bytes 1 to 2 of the packet: 12"),
    "bad byte order": (unpack(field("level", "unsigned", 16, "BE")), ValueError,
                       "recipe entry 1 ('level'), bytes 1 to 3 of the packet: 12 FF"),
    "past the end": (unpack(field("level", "unsigned", 64)), ValueError, "recipe entry 1 ('level')"),
    "bad data": (unpack(field("level", "packed_bcd", 8, offset_bits=16)), ValueError,
                 "recipe entry 1 ('level'), bytes 2 to 3 of the packet: FF"),
    "reserved format": (unpack(field("level", "ti_f32", 16)), NotImplementedError,
                        "recipe entry 1 ('level'), bytes 1 to 3 of the packet: 12 FF"),
    "key of the wrong type": (unpack(field("level", "unsigned", "8")), TypeError, "recipe entry 1 ('level')"),
    "key out of range": (unpack(field("level", "unsigned", -1)), OverflowError, "recipe entry 1 ('level')"),
    "name not a str": (unpack(field(7, "unsigned", 8)), TypeError, "recipe entry 1"),
    "not a dict": (unpack(["level"]), TypeError, "recipe entry 1"),
    "the recipe's own code": (unpack(field("level", "unsigned", Index(8, raising))), Broken,
                              "recipe entry 1 ('level')"),
    "missing value": (pack(field("level", "unsigned", 8)), KeyError, "recipe entry 1 ('level')"),
    # The sizing pass reads no name; the note finds it in the entry all the same.
    "sizing pass": (pack(field("level", "unsigned", None), level=1), TypeError, "recipe entry 1 ('level')"),
    "value of the wrong type": (pack(field("level", "unsigned", 8), level=1.5), TypeError, "recipe entry 1 ('level')"),
    "value out of range": (pack(field("level", "unsigned", 8), level=256), ValueError, "recipe entry 1 ('level')"),
    "not packable": (pack(field("level", "ieee754_f128", 128), level=1.0), ValueError, "recipe entry 1 ('level')"),
    "pack not a dict": (pack(None), TypeError, "recipe entry 1"),
}


@pytest.mark.parametrize("call, inner, note", CASES.values(), ids=CASES.keys())
def test_wrapped_error_has_its_cause_and_a_note(call, inner, note):
    with pytest.raises(ValueError) as info:
        call()
    error = info.value
    assert type(error) is ValueError
    assert type(error.__cause__) is inner
    assert str(error) == f"{type(error.__cause__).__name__}: {error.__cause__}"
    assert error.__notes__ == [note]
    if inner is Broken:
        assert error.__cause__ is last_raised[0]


def test_names_in_notes_are_quoted_as_python_would():
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(b"", 0, [field("it's \u00e9", "unsigned", 8)])
    assert info.value.__notes__ == [f"recipe entry 0 ({'it' + chr(39) + 's ' + chr(233)!r})"]


def test_long_fields_show_their_first_bytes():
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(bytes([0xFF] * 20), 0, [field("text", "utf8", 160)])
    assert info.value.__notes__ == ["recipe entry 0 ('text'), bytes 0 to 20 of the packet: " + " ".join(["FF"] * 16) + " ..."]


def test_argument_and_stand_alone_errors_are_not_wrapped():
    for call in (lambda: telbit.unpack_parameters(b"", -1, []), lambda: telbit.decode_packed_bcd(0xF, 4)):
        with pytest.raises((OverflowError, ValueError)) as info:
            call()
        assert info.value.__cause__ is None and not hasattr(info.value, "__notes__")


def test_the_cause_and_the_note_go_with_the_error():
    assert_allocates_nothing_that_stays([case[0] for case in CASES.values()], rounds=300)
