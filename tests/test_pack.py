"""Packing: sizing, placement, byte order, bit mirroring, overlaps and the packet's end."""

import random

import pytest

import telbit
from helpers import field, wrapped


def pack(recipe, values):
    return telbit.pack_parameters(recipe, values)


def pack_error(recipe, values):
    with pytest.raises(ValueError) as info:
        pack(recipe, values)
    assert type(info.value) is ValueError
    return str(info.value)


@pytest.mark.parametrize("recipe, values, expected", [
    ([], {}, ""),
    ([], {"unused": 1}, ""),
    ([field("a", "unsigned", 8)], {"a": 0x12}, "12"),
    ([field("a", "unsigned", 16)], {"a": 258}, "0102"),
    ([field("a", "unsigned", 16, "little")], {"a": 258}, "0201"),
    ([field("a", "unsigned", 16, "BIG")], {"a": 258}, "0102"),
    ([field("a", "unsigned", 16, "Little")], {"a": 258}, "0201"),
    ([field("a", "twos_complement", 16, "little")], {"a": -2}, "feff"),
    ([field("a", "unsigned", 8, reverse_bits=True)], {"a": 1}, "80"),
    ([field("a", "unsigned", 12, reverse_bits=True)], {"a": 0xABC}, "03d5"),
    ([field("a", "unsigned", 3, reverse_bits=True)], {"a": 1}, "04"),
    ([field("a", "unsigned", 16, reverse_bits=True)], {"a": 0x1234}, "2c48"),
    ([field("a", "unsigned", 64)], {"a": 0x0102030405060708}, "0102030405060708"),
    ([field("a", "unsigned", 0)], {"a": 0}, ""),
    ([field("a", "unsigned", 12), field("b", "unsigned", 4)], {"a": 0xABC, "b": 5}, "0a05"),
    ([field("A", "unsigned", 8, offset_bits=16), field("B", "unsigned", 8, offset_bits=0),
      field("C", "unsigned", 8)], {"A": 1, "B": 2, "C": 3}, "02030100"),
    ([field("t", "utf8", 8)], {"t": "AB"}, "41"),
    ([field("t", "utf8", 8), field("u", "unsigned", 8)], {"t": "AB", "u": 0}, "4100"),
    ([field("t", "utf8", 16, "little")], {"t": "abc"}, "6362"),
    ([field("t", "utf8", 24, "little")], {"t": "abc"}, "636261"),
    ([field("t", "utf8", 32)], {"t": "ab"}, "61620000"),
    # A text longer than its field stops at the field's end, sparing its neighbour.
    ([field("t", "utf8", 16), field("u", "unsigned", 8, offset_bits=24)], {"t": "ABCDEF", "u": 0x99}, "41420099"),
    ([field("u", "unsigned", 8), field("t", "utf8", 16)], {"t": "abcdef", "u": 1}, "016162"),
    # Bytes are replaced, not combined.
    ([field("a", "unsigned", 16), field("b", "unsigned", 8, offset_bits=8)], {"a": 0xFFFF, "b": 0}, "ff00"),
    ([field("a", "unsigned", 16), field("b", "unsigned", 4, offset_bits=4)], {"a": 0xFFFF, "b": 1}, "01ff"),
    # Two entries with the same name encode the same value.
    ([field("a", "unsigned", 8), field("a", "unsigned", 8)], {"a": 7}, "0707"),
    # An offset that moves back: sized as if later entries followed the furthest field.
    ([field("a", "unsigned", 8, offset_bits=24), field("b", "unsigned", 8, offset_bits=0),
      field("c", "unsigned", 8)], {"a": 1, "b": 2, "c": 3}, "02030001" + "00"),
])
def test_packing_examples(recipe, values, expected):
    assert pack(recipe, values).hex() == expected


def test_result_is_plain_bytes():
    packet = pack([field("a", "unsigned", 8)], {"a": 1})
    assert type(packet) is bytes


def reference_unsigned_bytes(value, bits, reverse, little):
    size = (bits + 7) // 8
    if reverse:
        value = int(format(value, f"0{bits}b")[::-1], 2)
    raw = value.to_bytes(size, "big")
    return raw[::-1] if little else raw


@pytest.mark.parametrize("bits", [65, 70, 72, 100, 128, 129, 200])
@pytest.mark.parametrize("reverse", [False, True])
@pytest.mark.parametrize("little", [False, True])
def test_unsigned_wider_than_64_bits(bits, reverse, little):
    rng = random.Random(bits * 4 + reverse * 2 + little)
    for value in (0, 1, 2**64 - 1, rng.getrandbits(64), rng.getrandbits(33)):
        recipe = [field("v", "unsigned", bits, "little" if little else "big", reverse)]
        assert pack(recipe, {"v": value}) == reference_unsigned_bytes(value, bits, reverse, little)


@pytest.mark.parametrize("bits", [1, 3, 5, 8, 11, 16, 20, 32, 45, 63, 64])
@pytest.mark.parametrize("reverse", [False, True])
@pytest.mark.parametrize("little", [False, True])
def test_unsigned_round_trip(bits, reverse, little):
    rng = random.Random(bits)
    recipe = [field("v", "unsigned", bits, "little" if little else "big", reverse)]
    for value in (0, 2**bits - 1, rng.getrandbits(bits)):
        packet = pack(recipe, {"v": value})
        assert packet == reference_unsigned_bytes(value, bits, reverse, little)
        assert telbit.unpack_parameters(packet, 0, recipe) == {"v": value}


def test_unsigned_range_and_value_types():
    assert pack_error([field("a", "unsigned", 8)], {"a": 256}) == wrapped(ValueError, "Value 256 is too large for 8 bits")
    assert pack_error([field("a", "unsigned", 0)], {"a": 1}) == wrapped(ValueError, "Value 1 is too large for 0 bits")
    assert pack_error([field("a", "unsigned", 63)], {"a": 2**63}) == wrapped(
        ValueError, f"Value {2**63} is too large for 63 bits")
    assert pack([field("a", "unsigned", 64)], {"a": 2**64 - 1}) == b"\xff" * 8
    assert pack_error([field("a", "unsigned", 8)], {"a": 1.5}) == wrapped(
        TypeError, "'float' object cannot be interpreted as an integer")
    assert pack_error([field("a", "unsigned", 8)], {"a": -1}) == wrapped(
        OverflowError, "can't convert negative int to unsigned")
    assert pack_error([field("a", "unsigned", 8)], {"a": None}) == wrapped(
        TypeError, "'NoneType' object cannot be interpreted as an integer")
    assert pack_error([field("t", "utf8", 8)], {"t": 5}) == wrapped(TypeError, "'int' object cannot be cast as 'str'")
    assert pack([field("a", "unsigned", 8)], {"a": True}) == b"\x01"


def test_text_with_lone_surrogate_is_wrapped():
    text = pack_error([field("t", "utf8", 8)], {"t": "\ud800"})
    assert text.startswith("UnicodeEncodeError: 'utf-8' codec can't encode character '\\ud800'")


def test_bytes_beyond_the_packet_are_dropped():
    recipe = [field("a", "unsigned", 8), field("t", "utf8", 16)]
    assert pack(recipe, {"a": 1, "t": "abcdef"}) == b"\x01ab"
    # An explicit offset past the end writes nothing; the packet keeps its size.
    recipe = [field("a", "unsigned", 16), field("b", "unsigned", 8, offset_bits=0), field("c", "unsigned", 8)]
    assert pack(recipe, {"a": 0x1234, "b": 0xFF, "c": 0xEE}) == b"\xff\xee\x00"


def test_sizes_that_cannot_be_allocated():
    huge = 2**63
    text = pack_error([field("a", "unsigned", 8, offset_bits=huge)], {"a": 1})
    assert text == f"MemoryError: cannot allocate a packet of {huge // 8 + 1} bytes"


def test_positions_wrap_silently():
    # start + bits wraps to 0, so the packet stays empty and the field is dropped.
    assert pack([field("a", "unsigned", 8, offset_bits=2**64 - 8)], {"a": 1}) == b""


def test_packet_from_unpacked_values_round_trips():
    recipe = [
        field("flag", "unsigned", 1, offset_bits=0),
        field("mode", "unsigned", 3, offset_bits=8),
        field("temp", "twos_complement", 16, "little", offset_bits=16),
        field("count", "unsigned", 32),
        field("label", "utf8", 32),
    ]
    values = {"flag": 1, "mode": 5, "temp": -300, "count": 123456, "label": "HK01"}
    packet = pack(recipe, values)
    assert telbit.unpack_parameters(packet, 0, recipe) == values
