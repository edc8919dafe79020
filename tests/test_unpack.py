"""The unpacking walk: placement, byte order, bit mirroring, offsets and walk errors."""

import pytest

import telbit
from functions import RESERVED
from helpers import field, wrapped

ABCDEF = bytes.fromhex("ABCDEF")


def unpack(recipe, packet=ABCDEF, offset=0):
    return telbit.unpack_parameters(packet, offset, recipe)


def unpack_error(recipe, packet=ABCDEF, offset=0):
    with pytest.raises(ValueError) as info:
        unpack(recipe, packet, offset)
    return str(info.value)


@pytest.mark.parametrize("recipe, packet, offset, expected", [
    ([field("a", "unsigned", 12)], ABCDEF, 0, {"a": 3021}),
    ([field("a", "unsigned", 12, "little")], ABCDEF, 0, {"a": 3499}),
    ([field("a", "unsigned", 12), field("b", "unsigned", 8)], ABCDEF, 0, {"a": 3021, "b": 205}),
    ([field("a", "unsigned", 8, reverse_bits=True)], b"\x01", 0, {"a": 128}),
    ([field("a", "twos_complement", 8)], b"\xff", 0, {"a": -1}),
    ([field("a", "unsigned", 8, offset_bits=16)], b"\x00\x01\x02\x03", 8, {"a": 3}),
    # The low three bits of a position do not move a field.
    ([field("a", "unsigned", 8, offset_bits=3)], ABCDEF, 0, {"a": 0xAB}),
    ([field("a", "unsigned", 8)], ABCDEF, 7, {"a": 0xAB}),
    ([field("a", "unsigned", 4, offset_bits=12)], ABCDEF, 0, {"a": 0xD}),
    # The running position continues after an explicit offset.
    ([field("a", "unsigned", 8, offset_bits=16), field("b", "unsigned", 8)], bytes(range(4)), 0, {"a": 2, "b": 3}),
    ([field("a", "unsigned", 8, offset_bits=8), field("b", "unsigned", 8, offset_bits=0)], ABCDEF, 8,
     {"a": 0xEF, "b": 0xCD}),
    ([], b"", 0, {}),
    ([], ABCDEF, 2**64 - 1, {}),
    ([field("z", "unsigned", 0), field("a", "unsigned", 8)], ABCDEF, 0, {"z": 0, "a": 0xAB}),
    ([field("z", "utf8", 0)], b"", 0, {"z": ""}),
    ([field("z", "unsigned", 0, offset_bits=24)], ABCDEF, 0, {"z": 0}),
])
def test_walk_examples(recipe, packet, offset, expected):
    assert unpack(recipe, packet, offset) == expected


def test_wide_fields_use_the_first_eight_bytes():
    packet = bytes(range(1, 10))
    assert unpack([field("a", "unsigned", 72)], packet) == {"a": 0x0102030405060708}
    assert unpack([field("a", "unsigned", 72, "little")], packet) == {"a": 0x0908070605040302}
    assert unpack([field("a", "unsigned", 64)], b"\xff" * 8) == {"a": 2**64 - 1}
    assert unpack([field("a", "twos_complement", 64)], b"\xff" * 8) == {"a": -1}


def reference_value(packet, position, bits, little, reverse):
    """The field value computed bit by bit from the documented steps."""
    first, size = position // 8, (bits + 7) // 8
    span = packet[first:first + size]
    if little:
        span = span[::-1]
    accumulator = 0
    for byte in span[:8]:
        accumulator = accumulator * 256 + byte
    if reverse:
        value = 0
        for i in range(bits):
            if accumulator >> (i % 64) & 1:
                value |= 1 << ((bits - 1 - i) % 64)
        return value
    return accumulator if bits >= 64 else accumulator & ((1 << bits) - 1)


@pytest.mark.parametrize("bits", [1, 3, 7, 8, 9, 12, 15, 16, 17, 31, 32, 33, 55, 56, 57, 63, 64, 65, 71, 72, 100,
                                  127, 128, 129, 200])
@pytest.mark.parametrize("little", [False, True])
@pytest.mark.parametrize("reverse", [False, True])
def test_unsigned_matches_bitwise_reference(bits, little, reverse):
    packet = bytes((i * 37 + 11) % 256 for i in range(40))
    for position in (0, 5, 16, 24):
        recipe = [field("v", "unsigned", bits, "little" if little else "big", reverse, offset_bits=position)]
        assert unpack(recipe, packet) == {"v": reference_value(packet, position, bits, little, reverse)}


def test_repeated_name_keeps_first_position_and_last_value():
    result = unpack([field("a", "unsigned", 8), field("b", "unsigned", 8), field("a", "unsigned", 8)])
    assert result == {"a": 0xEF, "b": 0xCD}
    assert list(result) == ["a", "b"]


@pytest.mark.parametrize("recipe, packet, offset, message", [
    ([field("x", "unsigned", 16, offset_bits=16)], ABCDEF, 0, "Field 'x' needs bytes 2 to 4 but the packet has 3 bytes"),
    ([field("x", "unsigned", 8)], b"", 0, "Field 'x' needs bytes 0 to 1 but the packet has 0 bytes"),
    ([field("x", "unsigned", 8)], ABCDEF, 24, "Field 'x' needs bytes 3 to 4 but the packet has 3 bytes"),
    ([field("x", "unsigned", 0)], ABCDEF, 32, "Field 'x' needs bytes 4 to 4 but the packet has 3 bytes"),
    ([field("x", "unsigned", 8)], ABCDEF, 2**64 - 1,
     f"Field 'x' needs bytes {(2**64 - 1) // 8} to {(2**64 - 1) // 8 + 1} but the packet has 3 bytes"),
    ([field("x", "utf8", 2**32 - 1)], ABCDEF, 0, "Field 'x' needs bytes 0 to 536870912 but the packet has 3 bytes"),
    ([field("a", "unsigned", 16), field("x", "unsigned", 16)], ABCDEF, 0,
     "Field 'x' needs bytes 2 to 4 but the packet has 3 bytes"),
])
def test_span_past_the_packet(recipe, packet, offset, message):
    assert unpack_error(recipe, packet, offset) == wrapped(ValueError, message)


def test_span_checked_before_byte_order_and_encoding():
    assert unpack_error([field("x", "nope", 16, "sideways", offset_bits=16)]) == wrapped(
        ValueError, "Field 'x' needs bytes 2 to 4 but the packet has 3 bytes")


def test_positions_wrap_modulo_2_64():
    # offset_bits + the entry's offset wraps around to bit 8.
    assert unpack([field("a", "unsigned", 8, offset_bits=16)], ABCDEF, 2**64 - 8) == {"a": 0xCD}


@pytest.mark.parametrize("encoding, label", RESERVED.items())
def test_reserved_names_in_recipes(encoding, label):
    recipe = [field("a", "unsigned", 8), field("x", encoding.upper(), 8)]
    assert unpack_error(recipe) == wrapped(NotImplementedError, f"{label} format not yet implemented")
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters(recipe, {"a": 1, "x": 1.0})
    assert str(info.value) == wrapped(ValueError, f"Unsupported encoding type: {encoding.upper()}")


@pytest.mark.parametrize("bits, message", [
    (128, "IEEE 754 f128 requires special handling for >64 bits (not yet implemented in process_recipe)"),
    (65, "IEEE 754 f128 requires special handling for >64 bits (not yet implemented in process_recipe)"),
    (64, "IEEE 754 f128 requires a 128-bit field, got 64 bits"),
    (0, "IEEE 754 f128 requires a 128-bit field, got 0 bits"),
])
def test_f128_fields_never_fabricate_values(bits, message):
    assert unpack_error([field("q", "ieee754_f128", bits)], bytes(16)) == wrapped(ValueError, message)


def test_first_error_discards_partial_results():
    recipe = [field("a", "unsigned", 8), field("b", "unsigned", 8), field("c", "nope", 8)]
    assert unpack_error(recipe) == wrapped(ValueError, "Unsupported encoding type: nope")


def test_packet_is_read_in_place_and_unchanged():
    class Packet(bytes):
        pass

    packet = Packet(ABCDEF)
    assert unpack([field("a", "unsigned", 24)], packet) == {"a": 0xABCDEF}
    assert packet == ABCDEF
