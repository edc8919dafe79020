"""Two's complement, ones' complement and sign-magnitude, stand-alone and in recipes."""

import random

import pytest

import telbit
from helpers import field, wrapped

MAX64 = 2**64 - 1
MIN_I64, MAX_I64 = -2**63, 2**63 - 1


def range_error(value, bits):
    lo, hi = -2 ** (bits - 1), 2 ** (bits - 1) - 1
    return f"Value {value} out of range for {bits} bits (range: {lo} to {hi})"


@pytest.mark.parametrize("function, value, bits, expected", [
    ("encode_twos_complement", -1, 8, 255),
    ("encode_twos_complement", -128, 8, 128),
    ("encode_twos_complement", 127, 8, 127),
    ("encode_twos_complement", -1, 1, 1),
    ("encode_twos_complement", -1, 64, MAX64),
    ("encode_twos_complement", MIN_I64, 64, 2**63),
    ("encode_twos_complement", 2**62 - 1, 63, None),
    ("encode_twos_complement", -2**62, 63, 2**62),
    ("encode_twos_complement", 12345, 0, 0),
    ("encode_ones_complement", -1, 8, 254),
    ("encode_ones_complement", -127, 8, 128),
    ("encode_ones_complement", 0, 8, 0),
    ("encode_ones_complement", -1, 64, 2**64 - 2),
    ("encode_ones_complement", MAX_I64, 64, MAX_I64),
    ("encode_ones_complement", -MAX_I64, 64, 2**63),
    ("encode_ones_complement", 7, 0, 7),
    ("encode_ones_complement", -7, 0, 0),
    ("encode_sign_magnitude", -1, 8, 129),
    ("encode_sign_magnitude", -127, 8, 255),
    ("encode_sign_magnitude", -1, 2, 3),
    ("encode_sign_magnitude", -MAX_I64, 64, MAX64),
    ("encode_sign_magnitude", MAX_I64, 64, MAX_I64),
    ("decode_twos_complement", 255, 8, -1),
    ("decode_twos_complement", 128, 8, -128),
    ("decode_twos_complement", 127, 8, 127),
    ("decode_twos_complement", MAX64, 64, -1),
    ("decode_twos_complement", 2**63, 64, MIN_I64),
    ("decode_twos_complement", 2**62, 63, -2**62),
    ("decode_twos_complement", 2**63, 65, MIN_I64),
    ("decode_twos_complement", 2**63, 2**32 - 1, MIN_I64),
    ("decode_ones_complement", 255, 8, 0),
    ("decode_ones_complement", 254, 8, -1),
    ("decode_ones_complement", 128, 8, -127),
    ("decode_ones_complement", MAX64, 64, 0),
    ("decode_ones_complement", 2**64 - 2, 64, -1),
    ("decode_ones_complement", 511, 8, 256),
    ("decode_ones_complement", 2**63, 64, -MAX_I64),
    ("decode_ones_complement", 2**62, 63, -(2**62 - 1)),
    ("decode_sign_magnitude", 128, 8, 0),
    ("decode_sign_magnitude", 129, 8, -1),
    ("decode_sign_magnitude", 255, 8, -127),
    ("decode_sign_magnitude", 511, 8, -127),
    ("decode_sign_magnitude", MAX64, 64, -MAX_I64),
    ("decode_sign_magnitude", MAX64, 2**32 - 1, -MAX_I64),
    ("decode_sign_magnitude", 1, 1, 0),
    ("decode_sign_magnitude", 0, 1, 0),
    ("decode_twos_complement", 5, 0, 0),
    ("decode_ones_complement", 5, 0, 0),
    ("decode_sign_magnitude", 5, 0, 0),
])
def test_integer_functions(function, value, bits, expected):
    if expected is None:
        expected = value
    assert getattr(telbit, function)(value, bits) == expected


@pytest.mark.parametrize("function, value, bits, message", [
    ("encode_twos_complement", 128, 8, range_error(128, 8)),
    ("encode_twos_complement", -129, 8, range_error(-129, 8)),
    ("encode_twos_complement", 5, 65, "bits must be <= 64 for two's complement encoding"),
    ("encode_twos_complement", 5, 2**32 - 1, "bits must be <= 64 for two's complement encoding"),
    ("encode_twos_complement", 2**62, 63, range_error(2**62, 63)),
    ("encode_twos_complement", 1, 1, range_error(1, 1)),
    ("encode_ones_complement", -128, 8, "Value -128 is too large (magnitude) for 8 bits"),
    ("encode_ones_complement", 128, 8, "Value 128 is too large for 8 bits"),
    ("encode_ones_complement", 1, 1, "Value 1 is too large for 1 bits"),
    ("encode_ones_complement", -1, 1, "Value -1 is too large (magnitude) for 1 bits"),
    ("encode_ones_complement", MIN_I64, 64, f"Value {MIN_I64} is too large (magnitude) for 64 bits"),
    ("encode_ones_complement", MIN_I64, 0, f"Value {MIN_I64} is too large (magnitude) for 0 bits"),
    ("encode_ones_complement", 0, 65, "bits must be <= 64 for ones' complement encoding"),
    ("encode_sign_magnitude", 128, 8, "Magnitude of 128 is too large for 8 bits"),
    ("encode_sign_magnitude", -128, 8, "Magnitude of -128 is too large for 8 bits"),
    ("encode_sign_magnitude", 0, 1, "bits must be between 2 and 64 for sign-magnitude encoding"),
    ("encode_sign_magnitude", 0, 65, "bits must be between 2 and 64 for sign-magnitude encoding"),
    ("encode_sign_magnitude", MIN_I64, 64, f"Magnitude of {MIN_I64} is too large for 64 bits"),
])
def test_integer_errors(function, value, bits, message):
    with pytest.raises(ValueError) as info:
        getattr(telbit, function)(value, bits)
    assert str(info.value) == message


def python_twos(value, bits):
    return value & ((1 << bits) - 1)


def python_ones(value, bits):
    return value if value >= 0 else ((1 << bits) - 1) - (-value)


def python_sign_magnitude(value, bits):
    return value if value >= 0 else (1 << (bits - 1)) | -value


@pytest.mark.parametrize("bits", [1, 2, 7, 8, 9, 16, 31, 32, 33, 62, 63, 64])
def test_round_trips_and_reference_patterns(bits):
    rng = random.Random(bits)
    lo, hi = -2 ** (bits - 1), 2 ** (bits - 1) - 1
    values = {lo, hi, 0, 1, -1, lo + 1, hi - 1} | {rng.randint(lo, hi) for _ in range(200)}
    for value in values:
        if lo <= value <= hi:
            pattern = telbit.encode_twos_complement(value, bits)
            assert pattern == python_twos(value, bits)
            assert telbit.decode_twos_complement(pattern, bits) == value
        if lo < value <= hi and not (bits == 1 and value != 0):
            pattern = telbit.encode_ones_complement(value, bits)
            assert pattern == python_ones(value, bits)
            assert telbit.decode_ones_complement(pattern, bits) == value
            if bits >= 2:
                pattern = telbit.encode_sign_magnitude(value, bits)
                assert pattern == python_sign_magnitude(value, bits)
                assert telbit.decode_sign_magnitude(pattern, bits) == value


@pytest.mark.parametrize("encoding", ["twos_complement", "ones_complement", "sign_magnitude"])
@pytest.mark.parametrize("byte_order", ["big", "little"])
@pytest.mark.parametrize("reverse", [False, True])
def test_recipe_fields_use_the_same_rules(encoding, byte_order, reverse):
    rng = random.Random(f"{encoding}{byte_order}{reverse}")
    for bits in (2, 5, 8, 12, 16, 24, 31, 32, 40, 63, 64):
        lo, hi = -(2 ** (bits - 1)) + 1, 2 ** (bits - 1) - 1
        value = rng.randint(lo, hi)
        recipe = [field("v", encoding, bits, byte_order, reverse)]
        packet = telbit.pack_parameters(recipe, {"v": value})
        assert len(packet) == (bits + 7) // 8
        assert telbit.unpack_parameters(packet, 0, recipe) == {"v": value}
        raw = int.from_bytes(packet, byte_order)
        if reverse:
            raw = int(format(raw & ((1 << bits) - 1), f"0{bits}b")[::-1], 2)
        assert getattr(telbit, f"decode_{encoding}")(raw, bits) == value


def test_pack_wraps_integer_errors():
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("v", "twos_complement", 8)], {"v": 200})
    assert str(info.value) == wrapped(ValueError, range_error(200, 8))
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("v", "sign_magnitude", 1)], {"v": 0})
    assert str(info.value) == wrapped(ValueError, "bits must be between 2 and 64 for sign-magnitude encoding")
