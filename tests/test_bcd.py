"""Packed and zoned binary-coded decimal, stand-alone and in recipes."""

import re

import pytest
from hypothesis import given, strategies as st

import telbit
from helpers import field, wrapped

MIN_I64 = -2**63


def digit_error(digit):
    return f"Invalid BCD digit: {digit} (must be 0-9)"


def too_many(value, count):
    return f"Value {value} has too many digits for {count} BCD digits"


SIGN_NIBBLE = "Invalid BCD sign nibble: expected 0xA-0xF for signed packed BCD"


def zoned_signed(byte):
    return f"Invalid zoned decimal signed byte: 0x{byte:02X} (expected 0x30-0x39, 0xC0-0xC9, 0xD0-0xD9, or 0xF0-0xF9)"


def zoned(byte):
    return f"Invalid zoned decimal byte: 0x{byte:02X} (expected ASCII 0x30-0x39 or EBCDIC 0xF0-0xF9)"


@pytest.mark.parametrize("function, args, expected", [
    ("decode_packed_bcd", (0x1234, 16), 1234),
    ("decode_packed_bcd", (0x123, 8), 23),
    ("decode_packed_bcd", (0xFF, 3), 0),
    ("decode_packed_bcd", (0xFF, 0), 0),
    ("decode_packed_bcd", (0x9999999999999999, 64), 9999999999999999),
    ("decode_packed_bcd", (0x9999999999999999, 2**32 - 1), 9999999999999999),
    ("decode_packed_bcd", (0x123D, 16, True), -123),
    ("decode_packed_bcd", (0x123C, 16, True), 123),
    ("decode_packed_bcd", (0x123F, 16, True), 123),
    ("decode_packed_bcd", (0x123A, 16, True), 123),
    ("decode_packed_bcd", (0x123E, 16, True), 123),
    ("decode_packed_bcd", (0x123B, 16, True), -123),
    ("decode_packed_bcd", (0x12B, 12, True), -12),
    ("decode_packed_bcd", (0xC, 4, True), 0),
    ("decode_packed_bcd", (0xD, 4, True), 0),
    ("decode_packed_bcd", (0x5, 3, True), 0),
    ("decode_packed_bcd", (0x999999999999999D, 64, True), -999999999999999),
    ("decode_unpacked_bcd", (0x010203, 24), 123),
    ("decode_unpacked_bcd", (0xFF, 7), 0),
    ("decode_unpacked_bcd", (0x0909090909090909, 2**32 - 1), 99999999),
    ("decode_unpacked_bcd", (0xF1F2D3, 24, True), -123),
    ("decode_unpacked_bcd", (0x313233, 24, True), 123),
    ("decode_unpacked_bcd", (0xF1F2C3, 24, True), 123),
    ("decode_unpacked_bcd", (0xF1F2F3, 24, True), 123),
    ("decode_unpacked_bcd", (0xD7, 8, True), -7),
    ("decode_unpacked_bcd", (0x39, 8, True), 9),
    ("encode_packed_bcd", (1234, 16), 0x1234),
    ("encode_packed_bcd", (123, 16, True), 0x123C),
    ("encode_packed_bcd", (-123, 16, True), 0x123D),
    ("encode_packed_bcd", (0, 4, True), 0xC),
    ("encode_packed_bcd", (0, 3 + 1), 0),
    ("encode_packed_bcd", (7, 8), 0x07),
    ("encode_packed_bcd", (9999999999999999, 64), 0x9999999999999999),
    ("encode_packed_bcd", (9999999999999999, 2**32 - 1), 0x9999999999999999),
    ("encode_packed_bcd", (-999999999999999, 200, True), 0x999999999999999D),
    ("encode_unpacked_bcd", (123, 24), 0x010203),
    ("encode_unpacked_bcd", (123, 24, True), 0xF1F2C3),
    ("encode_unpacked_bcd", (-123, 24, True), 0xF1F2D3),
    ("encode_unpacked_bcd", (-7, 8, True), 0xD7),
    ("encode_unpacked_bcd", (5, 31, True), 0xF0F0C5),
    ("encode_unpacked_bcd", (99999999, 2**32 - 1), 0x0909090909090909),
    ("encode_unpacked_bcd", (-99999999, 64, True), 0xF9F9F9F9F9F9F9D9),
])
def test_bcd_values(function, args, expected):
    assert getattr(telbit, function)(*args) == expected


@pytest.mark.parametrize("function, args, message", [
    ("decode_packed_bcd", (0x1A, 8), digit_error(10)),
    ("decode_packed_bcd", (0xF1, 8), digit_error(15)),
    ("decode_packed_bcd", (0x1A, 4), digit_error(10)),
    ("decode_packed_bcd", (0x1239, 16, True), SIGN_NIBBLE),
    ("decode_packed_bcd", (0x1A9, 12, True), SIGN_NIBBLE),
    ("decode_packed_bcd", (0x1ADC, 16, True), digit_error(13)),
    ("decode_unpacked_bcd", (0x313233, 24), digit_error(51)),
    ("decode_unpacked_bcd", (0x0A0102, 24), digit_error(10)),
    ("decode_unpacked_bcd", (0xF1F2A3, 24, True), zoned_signed(0xA3)),
    ("decode_unpacked_bcd", (0xF1F205, 24, True), zoned_signed(0x05)),
    ("decode_unpacked_bcd", (0xF1F2CA, 24, True), zoned_signed(0xCA)),
    ("decode_unpacked_bcd", (0xC1F2C3, 24, True), zoned(0xC1)),
    ("decode_unpacked_bcd", (0xF1F3AF2C3, 40, True), zoned(0x3A)),
    ("decode_unpacked_bcd", (0xF1F1F1F1F1F1F1C1, 72, True), zoned(0x00)),
    ("encode_packed_bcd", (5, 4, True), too_many(5, 0)),
    ("encode_packed_bcd", (12345, 16), too_many(12345, 4)),
    ("encode_packed_bcd", (1234, 16, True), too_many(1234, 3)),
    ("encode_packed_bcd", (-12345, 16, True), too_many(-12345, 3)),
    ("encode_packed_bcd", (-5, 8), "Cannot encode negative value in unsigned BCD"),
    ("encode_packed_bcd", (-5, 3), "bits must be >= 4 for packed BCD"),
    ("encode_packed_bcd", (MIN_I64, 64, True), too_many(MIN_I64, 15)),
    ("encode_packed_bcd", (MIN_I64, 2**32 - 1, True), too_many(MIN_I64, 15)),
    ("encode_packed_bcd", (2**63 - 1, 100), too_many(2**63 - 1, 16)),
    ("encode_packed_bcd", (10**16, 2**32 - 1), too_many(10**16, 16)),
    ("encode_unpacked_bcd", (1234, 24), too_many(1234, 3)),
    ("encode_unpacked_bcd", (5, 7), "bits must be >= 8 for unpacked BCD"),
    ("encode_unpacked_bcd", (-5, 7), "bits must be >= 8 for unpacked BCD"),
    ("encode_unpacked_bcd", (-123, 24), "Cannot encode negative value in unsigned BCD"),
    ("encode_unpacked_bcd", (-1234, 24), "Cannot encode negative value in unsigned BCD"),
    ("encode_unpacked_bcd", (10**8, 2**32 - 1), too_many(10**8, 8)),
    ("encode_unpacked_bcd", (1, 72, True), "bits must be <= 64 for signed unpacked BCD"),
    ("encode_unpacked_bcd", (-123, 72, True), "bits must be <= 64 for signed unpacked BCD"),
])
def test_bcd_errors(function, args, message):
    with pytest.raises(ValueError) as info:
        getattr(telbit, function)(*args)
    if message is not None:
        assert str(info.value) == message


def packed_reference(value, positions):
    return int(str(value).zfill(positions), 16)


def zoned_reference(value, positions):
    digits = str(abs(value)).zfill(positions)
    zones = [0xF0 | int(d) for d in digits]
    zones[-1] = (0xD0 if value < 0 else 0xC0) | int(digits[-1])
    return int.from_bytes(bytes(zones), "big")


@given(st.integers(0, 9999999999999999), st.integers(0, 80))
def test_packed_round_trip(value, spare_bits):
    positions = max(len(str(value)), 1)
    bits = 4 * positions + spare_bits
    pattern = telbit.encode_packed_bcd(value, bits)
    assert pattern == packed_reference(value, positions)
    assert telbit.decode_packed_bcd(pattern, bits) == value


@given(st.integers(-999999999999999, 999999999999999), st.integers(0, 3))
def test_signed_packed_round_trip(value, spare):
    positions = len(str(abs(value))) + 1
    bits = 4 * positions + spare
    pattern = telbit.encode_packed_bcd(value, bits, True)
    assert pattern == packed_reference(abs(value), positions - 1) * 16 + (0xD if value < 0 else 0xC)
    assert telbit.decode_packed_bcd(pattern, bits, True) == value


@given(st.integers(-99999999, 99999999), st.integers(0, 7))
def test_zoned_round_trip(value, spare):
    positions = len(str(abs(value)))
    bits = 8 * positions + spare
    pattern = telbit.encode_unpacked_bcd(value, bits, True)
    assert pattern == zoned_reference(value, positions)
    assert telbit.decode_unpacked_bcd(pattern, bits, True) == value
    if value >= 0:
        plain = telbit.encode_unpacked_bcd(value, bits)
        assert plain == int.from_bytes(bytes(int(d) for d in str(value)), "big")
        assert telbit.decode_unpacked_bcd(plain, bits) == value


@pytest.mark.parametrize("encoding, bits, value, packet", [
    ("packed_bcd", 16, 1234, "1234"),
    ("packed_bcd_signed", 16, -123, "123d"),
    ("unpacked_bcd", 24, 123, "010203"),
    ("unpacked_bcd_signed", 24, -123, "f1f2d3"),
    ("PACKED_BCD", 12, 42, "0042"),
])
def test_bcd_recipe_fields(encoding, bits, value, packet):
    recipe = [field("v", encoding, bits)]
    assert telbit.pack_parameters(recipe, {"v": value}).hex() == packet
    assert telbit.unpack_parameters(bytes.fromhex(packet), 0, recipe) == {"v": value}
    little = [field("v", encoding, bits, "little")]
    assert telbit.pack_parameters(little, {"v": value}) == bytes.fromhex(packet)[::-1]
    assert telbit.unpack_parameters(bytes.fromhex(packet)[::-1], 0, little) == {"v": value}


@pytest.mark.parametrize("encoding, bits, packet, values, message", [
    ("packed_bcd", 8, "1a", {"v": -1}, digit_error(10)),
    ("packed_bcd_signed", 16, "1239", {"v": 12345}, SIGN_NIBBLE),
    ("unpacked_bcd_signed", 24, "c1f2c3", {"v": 1234}, zoned(0xC1)),
    ("unpacked_bcd", 24, "313233", {"v": -1}, digit_error(51)),
])
def test_bcd_recipe_errors_are_wrapped(encoding, bits, packet, values, message):
    recipe = [field("v", encoding, bits)]
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(bytes.fromhex(packet), 0, recipe)
    assert str(info.value) == wrapped(ValueError, message)
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters(recipe, values)
    assert str(info.value).startswith("ValueError: ")


def test_wide_bcd_fields_are_right_aligned():
    assert telbit.pack_parameters([field("v", "packed_bcd", 72)], {"v": 1234}).hex() == "000000000000001234"
    assert telbit.pack_parameters([field("v", "packed_bcd_signed", 72)], {"v": -5}).hex() == "00000000000000005d"


def test_packing_unsigned_unpacked_bcd_refuses_negative_values():
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("v", "unpacked_bcd", 24)], {"v": -123})
    assert str(info.value) == wrapped(ValueError, "Cannot encode negative value in unsigned BCD")


# Widths around every boundary: no position, one position, the 64-bit pattern's edge, beyond it.
WIDTHS = [0, 3, 4, 7, 8, 12, 15, 16, 63, 64, 65, 71, 72, 100, 2**31, 2**32 - 1]


def layout_reference(value, bits, packed, signed):
    """The pattern or the error message for a value, from decimal text: packed BCD is the decimal
    string read as hexadecimal, unpacked BCD its digits as bytes, zoned decimal its digits as
    EBCDIC characters with the sign in the units zone."""
    if bits < (4 if packed else 8):
        return ValueError, f"bits must be >= {4 if packed else 8} for {'packed' if packed else 'unpacked'} BCD"
    if value < 0 and not signed:
        return ValueError, "Cannot encode negative value in unsigned BCD"
    positions = bits // 4 if packed else bits // 8
    if not packed and signed and positions > 8:
        return ValueError, "bits must be <= 64 for signed unpacked BCD"
    room = min(positions - 1 if packed and signed else positions, (15 if signed else 16) if packed else 8)
    digits = str(abs(value)).lstrip("0")
    if len(digits) > room:
        return ValueError, too_many(value, room)
    if packed:
        pattern = int(digits or "0", 16)
        return (pattern << 4 | (0xD if value < 0 else 0xC)) if signed else pattern
    if not signed:
        return int.from_bytes(bytes(int(d) for d in digits), "big")
    return zoned_reference(value, positions)


@given(st.integers(MIN_I64, 2**63 - 1) | st.integers(-10**17, 10**17) | st.integers(-999, 999),
       st.sampled_from(WIDTHS) | st.integers(0, 2**32 - 1), st.booleans(), st.booleans())
def test_encode_matches_decimal_text_and_decodes_back(value, bits, packed, signed):
    encode = telbit.encode_packed_bcd if packed else telbit.encode_unpacked_bcd
    decode = telbit.decode_packed_bcd if packed else telbit.decode_unpacked_bcd
    expected = layout_reference(value, bits, packed, signed)
    if isinstance(expected, tuple):
        with pytest.raises(ValueError) as info:
            encode(value, bits, signed)
        assert str(info.value) == expected[1]
    else:
        assert encode(value, bits, signed) == expected
        assert decode(expected, bits, signed) == value


@given(st.integers(0, 2**64 - 1), st.integers(0, 15), st.booleans())
def test_decoding_ignores_bits_above_the_positions(pattern, positions, signed):
    bits = 4 * positions
    low = pattern & ((1 << bits) - 1)
    try:
        expected = telbit.decode_packed_bcd(low, bits, signed)
    except ValueError as error:
        with pytest.raises(ValueError, match=re.escape(str(error))):
            telbit.decode_packed_bcd(pattern, bits + 3, signed)
    else:
        assert telbit.decode_packed_bcd(pattern, bits + 3, signed) == expected


@pytest.mark.parametrize("bits", WIDTHS)
def test_every_width_reads_zero_digits_beyond_the_pattern(bits):
    # Nine nines fill the low bytes; what a width can see of them is the decimal number.
    packed_positions = min(bits // 4, 16)
    expected = int("9" * packed_positions) if packed_positions else 0
    assert telbit.decode_packed_bcd(0x9999999999999999, bits) == expected
    unpacked_positions = min(bits // 8, 8)
    assert telbit.decode_unpacked_bcd(0x0909090909090909, bits) == (int("9" * unpacked_positions) if unpacked_positions else 0)
    if bits // 8 > 8:
        with pytest.raises(ValueError) as info:
            telbit.decode_unpacked_bcd(0xF9F9F9F9F9F9F9C9, bits, True)
        assert str(info.value) == zoned(0x00)
    elif bits >= 8:
        assert telbit.decode_unpacked_bcd(0xF9F9F9F9F9F9F9C9, bits, True) == int("9" * (bits // 8))
    else:
        assert telbit.decode_unpacked_bcd(0xF9F9F9F9F9F9F9C9, bits, True) == 0


@pytest.mark.parametrize("function, signed, bits, message", [
    ("encode_unpacked_bcd", False, 64, "Cannot encode negative value in unsigned BCD"),
    ("encode_unpacked_bcd", True, 64, too_many(MIN_I64, 8)),
    ("encode_packed_bcd", False, 2**32 - 1, "Cannot encode negative value in unsigned BCD"),
    ("encode_packed_bcd", True, 2**32 - 1, too_many(MIN_I64, 15)),
])
def test_minimum_integer_is_refused_without_overflow(function, signed, bits, message):
    with pytest.raises(ValueError) as info:
        getattr(telbit, function)(MIN_I64, bits, signed)
    assert str(info.value) == message


def test_keyword_arguments_and_default_sign():
    assert telbit.decode_packed_bcd(value=0x123D, bits=16, signed=True) == -123
    assert telbit.encode_unpacked_bcd(bits=24, value=-123, signed=True) == 0xF1F2D3
    with pytest.raises(ValueError) as info:
        telbit.decode_packed_bcd(0x123D, 16)
    assert str(info.value) == digit_error(13)


@pytest.mark.parametrize("encoding, bits, value", [
    ("packed_bcd", 4, 7), ("packed_bcd", 64, 9999999999999999), ("packed_bcd", 65, 1234567890123456),
    ("packed_bcd", 200, 5), ("packed_bcd_signed", 8, -9), ("packed_bcd_signed", 64, -999999999999999),
    ("packed_bcd_signed", 72, 31), ("unpacked_bcd", 8, 9), ("unpacked_bcd", 64, 12345678),
    ("unpacked_bcd", 65, 87654321), ("unpacked_bcd_signed", 8, -3), ("unpacked_bcd_signed", 64, -12345678),
    ("unpacked_bcd_signed", 71, 7),
])
@pytest.mark.parametrize("byte_order", ["big", "little"])
def test_recipe_fields_hold_the_decimal_pattern(encoding, bits, value, byte_order):
    # Behind a byte of other data, the field's bytes are the pattern, right-aligned.
    packed, signed = encoding.startswith("packed"), encoding.endswith("_signed")
    pattern = layout_reference(value, bits, packed, signed)
    field_bytes = pattern.to_bytes((bits + 7) // 8, "big")
    if byte_order == "little":
        field_bytes = field_bytes[::-1]
    recipe = [field("pad", "unsigned", 8), field("v", encoding, bits, byte_order)]
    packet = telbit.pack_parameters(recipe, {"pad": 0xA5, "v": value})
    assert packet == b"\xa5" + field_bytes
    if bits <= 64:  # unpacking reads the first eight bytes of a wider field, the packer's zero fill
        assert telbit.unpack_parameters(packet, 0, recipe) == {"pad": 0xA5, "v": value}


@pytest.mark.parametrize("encoding, bits, value, message", [
    ("packed_bcd", 3, 1, "bits must be >= 4 for packed BCD"),
    ("packed_bcd", 8, -1, "Cannot encode negative value in unsigned BCD"),
    ("packed_bcd", 8, 100, too_many(100, 2)),
    ("packed_bcd_signed", 8, 10, too_many(10, 1)),
    ("packed_bcd", 2**32 - 1, 10**16, too_many(10**16, 16)),
    ("unpacked_bcd", 7, 1, "bits must be >= 8 for unpacked BCD"),
    ("unpacked_bcd", 16, -1, "Cannot encode negative value in unsigned BCD"),
    ("unpacked_bcd_signed", 72, 1, "bits must be <= 64 for signed unpacked BCD"),
])
def test_recipe_encode_errors_are_wrapped(encoding, bits, value, message):
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("v", encoding, bits)], {"v": value})
    assert str(info.value) == wrapped(ValueError, message)
