"""Reading recipe entries: required keys, their types, the order of errors, and name matching."""

import re

import pytest

import telbit
from helpers import field, wrapped
from hostile import Index, LyingSequence, Spiteful, Touchy, raiser

PACKET = bytes.fromhex("ABCDEF0123456789")


def unpack(recipe, packet=PACKET, offset=0):
    return telbit.unpack_parameters(packet, offset, recipe)


def pack(recipe, values):
    return telbit.pack_parameters(recipe, values)


def unpack_error(recipe):
    with pytest.raises(ValueError) as info:
        unpack(recipe)
    assert type(info.value) is ValueError
    assert isinstance(info.value.__cause__, BaseException)
    return str(info.value)


def pack_error(recipe, values):
    with pytest.raises(ValueError) as info:
        pack(recipe, values)
    assert type(info.value) is ValueError
    return str(info.value)


def missing(key):
    return wrapped(KeyError, repr(f"Recipe missing required field: '{key}'"))


BASE = field("x", "unsigned", 8)


@pytest.mark.parametrize("key", ["name", "encoding", "bits", "byte_order", "reverse_bits"])
def test_required_keys_both_directions(key):
    entry = {k: v for k, v in BASE.items() if k != key}
    assert unpack_error([entry]) == missing(key)
    assert pack_error([entry], {"x": 1}) == missing(key)
    assert missing(key) == f"KeyError: \"Recipe missing required field: '{key}'\""


@pytest.mark.parametrize("key, value, message", [
    ("name", 5, wrapped(TypeError, "'int' object cannot be cast as 'str'")),
    ("name", None, wrapped(TypeError, "'NoneType' object cannot be cast as 'str'")),
    ("encoding", b"unsigned", wrapped(TypeError, "'bytes' object cannot be cast as 'str'")),
    ("byte_order", None, wrapped(TypeError, "'NoneType' object cannot be cast as 'str'")),
    ("reverse_bits", 1, wrapped(TypeError, "'int' object cannot be cast as 'bool'")),
    ("reverse_bits", None, wrapped(TypeError, "'NoneType' object cannot be cast as 'bool'")),
    ("bits", -1, wrapped(OverflowError, "out of range integral type conversion attempted")),
    ("bits", 2**32, wrapped(OverflowError, "out of range integral type conversion attempted")),
    ("bits", 2**64, None),
    ("bits", 8.0, wrapped(TypeError, "'float' object cannot be interpreted as an integer")),
    ("bits", None, wrapped(TypeError, "'NoneType' object cannot be interpreted as an integer")),
    ("offset_bits", None, wrapped(TypeError, "'NoneType' object cannot be interpreted as an integer")),
    ("offset_bits", -1, wrapped(OverflowError, "can't convert negative int to unsigned")),
    ("offset_bits", 2**64, None),
    ("name", "\ud800", None),
    ("byte_order", "Li", wrapped(ValueError, "Invalid byte_order 'Li': must be 'big' or 'little'")),
    ("encoding", "Foo", wrapped(ValueError, "Unsupported encoding type: Foo")),
])
def test_key_value_errors(key, value, message):
    entry = dict(BASE, **{key: value})
    for text in (unpack_error([entry]), pack_error([entry], {"x": 1})):
        if message is None:
            assert text.startswith(("OverflowError: ", "UnicodeEncodeError: "))
        else:
            assert text == message


def test_bits_too_large_for_int64_uses_interpreter_message():
    text = unpack_error([dict(BASE, bits=2**64)])
    assert text.startswith("OverflowError: ") and "out of range integral" not in text


@pytest.mark.parametrize("item, type_name", [([1], "list"), (None, "NoneType"), ("x", "str"), (3, "int")])
def test_entry_must_be_dict(item, type_name):
    message = wrapped(TypeError, f"'{type_name}' object cannot be cast as 'dict'")
    assert unpack_error([item]) == message
    assert pack_error([item], {}) == message


def test_decoder_key_order():
    # Every key is broken; each is reported only once the ones before it are fixed.
    entry = {"name": 1, "encoding": 2, "bits": "x", "byte_order": 3, "reverse_bits": 4, "offset_bits": "y"}
    expected = [
        ("name", "x", "'int' object cannot be cast as 'str'"),
        ("encoding", "unsigned", "'int' object cannot be cast as 'str'"),
        ("bits", 8, "'str' object cannot be interpreted as an integer"),
        ("byte_order", "big", "'int' object cannot be cast as 'str'"),
        ("reverse_bits", False, "'int' object cannot be cast as 'bool'"),
        ("offset_bits", 0, "'str' object cannot be interpreted as an integer"),
    ]
    for key, fix, message in expected:
        assert unpack_error([entry]) == wrapped(TypeError, message)
        entry[key] = fix
    assert unpack([entry]) == {"x": 0xAB}


def test_byte_order_checked_before_encoding():
    assert unpack_error([field("x", "nope", 8, byte_order="middle")]) == wrapped(
        ValueError, "Invalid byte_order 'middle': must be 'big' or 'little'")


def test_packing_checks_byte_order_after_value_conversion():
    entry = field("x", "unsigned", 8, byte_order="middle")
    assert pack_error([entry], {"x": "no"}) == wrapped(
        TypeError, "'str' object cannot be interpreted as an integer")
    assert pack_error([entry], {"x": 256}) == wrapped(ValueError, "Value 256 is too large for 8 bits")
    assert pack_error([entry], {"x": 1}) == wrapped(
        ValueError, "Invalid byte_order 'middle': must be 'big' or 'little'")


def test_packing_first_pass_errors_come_first():
    recipe = [{"bits": 8, "encoding": "unsigned", "byte_order": "big", "reverse_bits": False},
              field("b", "unsigned", 8),
              {"name": "c", "encoding": "unsigned", "byte_order": "big", "reverse_bits": False}]
    assert pack_error(recipe, {}) == missing("bits")
    recipe[2]["bits"] = 8
    assert pack_error(recipe, {}) == missing("name")
    recipe[1]["offset_bits"] = -5
    assert pack_error(recipe, {}) == wrapped(OverflowError, "can't convert negative int to unsigned")


def test_value_lookup_after_keys_and_before_encoding():
    assert pack_error([field("x", "ti_f32", 32)], {}) == wrapped(
        KeyError, repr("Missing value for parameter: 'x'"))
    assert pack_error([field("x", "ti_f32", 32)], {"x": 1.0}) == wrapped(
        ValueError, "Unsupported encoding type: ti_f32")
    assert pack_error([field('say "hi"', "unsigned", 8)], {}) == \
        "KeyError: 'Missing value for parameter: \\'say \"hi\"\\''"


@pytest.mark.parametrize("encoding", ["UNSIGNED", "Unsigned", "uNsIgNeD", "unsigned"])
@pytest.mark.parametrize("byte_order", ["BIG", "Big", "big"])
def test_names_are_matched_after_lower_casing(encoding, byte_order):
    entry = field("x", encoding, 16, byte_order=byte_order)
    assert unpack([entry]) == {"x": 0xABCD}
    assert pack([entry], {"x": 0x1234}) == b"\x12\x34"


def test_non_ascii_names_follow_str_lower():
    # U+0130 lower-cases to "i" + U+0307, so this byte order matches nothing, and the error
    # quotes the text as written.
    assert unpack_error([field("x", "unsigned", 8, byte_order="L\u0130TTLE")]) == wrapped(
        ValueError, "Invalid byte_order 'L\u0130TTLE': must be 'big' or 'little'")


def test_kelvin_sign_reaches_encoding_names():
    name = "TWOS_COMPLEMENT".replace("C", "c")
    assert unpack([field("x", name, 8)], packet=b"\xff") == {"x": -1}
    name = "pac\u212aed_bcd"  # lower-cases to packed_bcd
    assert name.lower() == "packed_bcd"
    assert unpack_error([field("x", name, 8)]) == wrapped(ValueError, "Invalid BCD digit: 11 (must be 0-9)")
    assert unpack_error([field("x", "ti_f32\u212a", 8)]) == wrapped(
        ValueError, "Unsupported encoding type: ti_f32\u212a")
    assert unpack_error([field("x", "ti_f3\u212a", 8)]) == wrapped(
        ValueError, "Unsupported encoding type: ti_f3\u212a")
    assert unpack_error([field("x", "\u212a", 8)]) == wrapped(ValueError, "Unsupported encoding type: \u212a")


def test_unsupported_name_quotes_original_case():
    assert unpack_error([field("x", "Float32", 8)]) == wrapped(ValueError, "Unsupported encoding type: Float32")
    assert pack_error([field("x", "IEEE754_F128", 128)], {"x": 1.0}) == wrapped(
        ValueError, "Unsupported encoding type: IEEE754_F128")


def test_str_subclass_lower_not_consulted():
    class Shouty(str):
        def lower(self):
            return "unsigned"

    assert unpack([field("x", Shouty("UNSIGNED"), 8)]) == {"x": 0xAB}
    assert unpack_error([field("x", Shouty("nope"), 8)]) == wrapped(ValueError, "Unsupported encoding type: nope")


def test_dict_subclass_storage_only():
    class Defaulting(dict):
        def __missing__(self, key):
            return False

        def __getitem__(self, key):
            raise AssertionError("must not be called")

    entry = Defaulting(name="x", encoding="unsigned", bits=8, byte_order="big")
    assert unpack_error([entry]) == missing("reverse_bits")
    entry["reverse_bits"] = False
    assert unpack([entry]) == {"x": 0xAB}
    values = Defaulting()
    assert pack_error([entry], values) == wrapped(KeyError, repr("Missing value for parameter: 'x'"))
    dict.__setitem__(values, "x", 7)
    assert pack([entry], values) == b"\x07"


def test_extra_keys_ignored_and_bool_bits():
    entry = dict(field("x", "unsigned", True), description="a flag", units="V")
    assert unpack([entry], packet=b"\x01") == {"x": 1}


def test_tuple_and_sequence_recipes():
    entries = [field("a", "unsigned", 8), field("b", "unsigned", 8)]
    assert unpack(tuple(entries)) == {"a": 0xAB, "b": 0xCD}
    # The length of a sequence is only a hint: one that cannot give it is read all the same.
    assert unpack(LyingSequence(entries)) == {"a": 0xAB, "b": 0xCD}
    assert pack(LyingSequence(entries), {"a": 1, "b": 2}) == b"\x01\x02"


def test_failing_iteration_is_raised_unchanged():
    with pytest.raises(OSError, match="half-way"):
        unpack(LyingSequence([field("a", "unsigned", 8)] * 2, length=2, fail_at=1))


def test_key_equality_errors_pass_through():
    entry = {"name": "x", "encoding": "unsigned", Touchy("zz", like="bits"): 1, "byte_order": "big",
             "reverse_bits": False}
    entry["bits"] = 8
    Touchy.armed = True
    try:
        assert unpack_error([entry]) == "ArithmeticError: no comparing"
        assert pack_error([entry], {"x": 1}) == "ArithmeticError: no comparing"
    finally:
        Touchy.armed = False


def test_exception_whose_str_fails():
    text = unpack_error([field("x", "unsigned", Index(0, raiser(Spiteful)))])
    assert text == "Spiteful: <exception str() failed>"


def test_names_as_keys():
    class Name(str):
        pass

    result = unpack([field(Name("a"), "unsigned", 8)])
    assert result == {"a": 0xAB}
    assert type(next(iter(result))) is str
    assert pack([field(Name("a"), "unsigned", 8)], {"a": 9}) == b"\x09"


def test_wrapped_message_of_key_error_with_quote():
    text = unpack_error([{"name": "x"}])
    assert re.fullmatch(r"KeyError: \"Recipe missing required field: 'encoding'\"", text)
