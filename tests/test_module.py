"""The module's surface: the function table, text signatures, argument binding and conversion."""

import inspect
import re
import sys

import pytest

import telbit
from hostile import Index, Real, raiser

# (name, parameters) in the order the module exposes them.
U64, I64, U32, F32, F64, BYTES, TEXT, FLAG = "u64", "i64", "u32", "f32", "f64", "bytes", "text", "flag"
RESERVED = ["ieee754_1985_f32", "ieee754_1985_f64", "ieee754_1985_f80", "mil_std_1750a_f32", "mil_std_1750a_f48",
            "dec_f32", "dec_f64", "ibm_f32", "ibm_f64", "ti_f32", "ti_f40"]
TABLE = (
    [("unpack_parameters", "packet_bytes, offset_bits, recipe"), ("pack_parameters", "recipe, values")]
    + [(f"decode_{n}", "value, bits") for n in ("ones_complement", "twos_complement", "sign_magnitude")]
    + [(f"decode_{n}", "value, bits, signed=False") for n in ("unpacked_bcd", "packed_bcd")]
    + [(f"decode_ieee754_{n}", "value") for n in ("f16", "f32", "f64", "f128")]
    + [(f"decode_{n}", "_value") for n in RESERVED]
    + [(f"decode_{n}", "bytes") for n in ("us_ascii", "iso_8859_1", "windows_1252", "utf8", "utf16", "utf16le",
                                          "utf16be", "utf32", "utf32le", "utf32be")]
    + [(f"encode_{n}", "value, bits") for n in ("ones_complement", "twos_complement", "sign_magnitude")]
    + [(f"encode_{n}", "value, bits, signed=False") for n in ("unpacked_bcd", "packed_bcd")]
    + [(f"encode_ieee754_{n}", "value") for n in ("f16", "f32", "f64")]
    + [("encode_ieee754_f128", "_value")]
    + [(f"encode_{n}", "_value") for n in RESERVED]
    + [(f"encode_{n}", "text") for n in ("us_ascii", "iso_8859_1", "windows_1252", "utf8", "utf16", "utf16le",
                                         "utf16be", "utf32", "utf32le", "utf32be")]
)
NAMES = [name for name, _ in TABLE]


def test_table_order_and_all():
    assert len(TABLE) == 62
    assert telbit.__all__ == NAMES
    public = [n for n in dir(telbit) if not n.startswith("_")]
    assert sorted(public) == sorted(NAMES)


@pytest.mark.parametrize("name, params", TABLE, ids=NAMES)
def test_builtin_with_text_signature_only(name, params):
    function = getattr(telbit, name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == name
    assert function.__module__ == "telbit"
    assert function.__self__ is telbit
    assert function.__text_signature__ == f"({params})"
    assert function.__doc__ is None
    assert str(inspect.signature(function)) == f"({params})"


def test_module_itself():
    assert telbit.__doc__ == ""
    assert telbit.__name__ == "telbit"


# Sample arguments that every function accepts (for binding tests).
def good_args(name):
    if name == "unpack_parameters":
        return [b"", 0, []]
    if name == "pack_parameters":
        return [[], {}]
    if name.startswith("decode_") and name.endswith("_bcd"):
        return [0, 8, False]
    if name.startswith("encode_") and name.endswith("_bcd"):
        return [0, 8, False]
    if name.startswith(("decode_ones", "decode_twos", "decode_sign", "encode_ones", "encode_twos", "encode_sign")):
        return [0, 8]
    if name.startswith("decode_") and any(name.endswith(s) for s in ("ascii", "8859_1", "1252")) or "utf" in name \
            and name.startswith("decode_"):
        return [b"A"]
    if name.startswith("encode_") and (name.endswith(("ascii", "8859_1", "1252")) or "utf" in name):
        return ["A"]
    return [1]


def param_names(params):
    return [p.split("=")[0] for p in params.split(", ")]


@pytest.mark.parametrize("name, params", TABLE, ids=NAMES)
def test_binding_messages(name, params):
    function = getattr(telbit, name)
    names = param_names(params)
    args = good_args(name)
    optional = "signed=False" in params
    required = len(names) - optional
    # Too many positional arguments.
    given = len(names) + 1
    if optional:
        expected = f"{name}() takes from {required} to {len(names)} positional arguments but {given} were given"
    else:
        expected = f"{name}() takes {len(names)} positional arguments but {given} were given"
    with pytest.raises(TypeError) as info:
        function(*args[: len(names)], *([0] * (given - len(names))))
    assert str(info.value) == expected
    # Unexpected keyword, then multiple values.
    with pytest.raises(TypeError, match=re.escape(f"{name}() got an unexpected keyword argument 'nope'")):
        function(*args[:required], nope=1)
    with pytest.raises(TypeError, match=re.escape(f"{name}() got multiple values for argument '{names[0]}'")):
        function(*args[:required], **{names[0]: args[0]})
    # Keyword calls bind every parameter.
    function_kwargs = dict(zip(names, args))
    try:
        function(**function_kwargs)
    except (NotImplementedError, ValueError):
        pass


@pytest.mark.parametrize("count, text", [
    (0, "missing 3 required positional arguments: 'packet_bytes', 'offset_bits', and 'recipe'"),
    (1, "missing 2 required positional arguments: 'offset_bits' and 'recipe'"),
    (2, "missing 1 required positional argument: 'recipe'"),
])
def test_missing_arguments_list(count, text):
    with pytest.raises(TypeError) as info:
        telbit.unpack_parameters(*[b"", 0][:count])
    assert str(info.value) == f"unpack_parameters() {text}"


def test_one_positional_given_uses_was():
    with pytest.raises(TypeError) as info:
        telbit.pack_parameters([], {}, 1)
    assert str(info.value) == "pack_parameters() takes 2 positional arguments but 3 were given"
    with pytest.raises(TypeError) as info:
        telbit.decode_packed_bcd(1, 2, False, 4)
    assert str(info.value) == "decode_packed_bcd() takes from 2 to 3 positional arguments but 4 were given"
    with pytest.raises(TypeError) as info:
        telbit.decode_utf8(b"", b"")
    assert str(info.value) == "decode_utf8() takes 1 positional arguments but 2 were given"


def test_binding_error_order():
    # Too many positionals is reported before a bad keyword; keywords are checked in the order given.
    with pytest.raises(TypeError, match="takes 1 positional"):
        telbit.decode_utf8(b"", b"", nope=1)
    with pytest.raises(TypeError, match="multiple values for argument 'value'"):
        telbit.decode_twos_complement(1, value=2, nope=3)
    with pytest.raises(TypeError, match="unexpected keyword argument 'nope'"):
        telbit.decode_twos_complement(1, nope=3, value=2)
    # Missing arguments come after keyword checks.
    with pytest.raises(TypeError, match="unexpected keyword"):
        telbit.decode_twos_complement(nope=1)


def test_keyword_matching_by_content():
    key = "".join(["si", "gned"])  # not the interned object
    assert telbit.decode_packed_bcd(0x123D, 16, **{key: True}) == -123
    assert telbit.decode_packed_bcd(value=0x1234, bits=16) == 1234


def test_default_and_explicit_none():
    assert telbit.decode_packed_bcd(0x1234, 16) == 1234
    with pytest.raises(TypeError) as info:
        telbit.decode_packed_bcd(0x1234, 16, None)
    assert str(info.value) == "argument 'signed': 'NoneType' object cannot be cast as 'bool'"


@pytest.mark.parametrize("call, expected", [
    (lambda: telbit.decode_twos_complement(True, 8), 1),
    (lambda: telbit.decode_twos_complement(Index(255), Index(8)), -1),
    (lambda: telbit.decode_twos_complement(2**64 - 1, 64), -1),
    (lambda: telbit.encode_ieee754_f32(1), 0x3F800000),
    (lambda: telbit.encode_ieee754_f64(Real(2.5)), 0x4004000000000000),
    (lambda: telbit.encode_ieee754_f64(Index(1)), 0x3FF0000000000000),
    (lambda: telbit.decode_ieee754_f128(Index(0x3FFF << 112)), 1.0),
    (lambda: telbit.decode_packed_bcd(0x123D, 16, True), -123),
    (lambda: telbit.encode_twos_complement(-2**63, 64), 2**63),
    (lambda: telbit.unpack_parameters(b"", 2**64 - 1, ()), {}),
])
def test_conversions_accept(call, expected):
    assert call() == expected


@pytest.mark.parametrize("call, exc, message", [
    (lambda: telbit.decode_utf8(bytearray(b"x")), TypeError,
     "argument 'bytes': 'bytearray' object cannot be cast as 'bytes'"),
    (lambda: telbit.decode_utf8(memoryview(b"x")), TypeError,
     "argument 'bytes': 'memoryview' object cannot be cast as 'bytes'"),
    (lambda: telbit.encode_utf8(b"x"), TypeError, "argument 'text': 'bytes' object cannot be cast as 'str'"),
    (lambda: telbit.decode_twos_complement(-1, 8), OverflowError, "can't convert negative int to unsigned"),
    (lambda: telbit.decode_twos_complement(2**64, 8), OverflowError, None),
    (lambda: telbit.decode_twos_complement(1.5, 8), TypeError,
     "argument 'value': 'float' object cannot be interpreted as an integer"),
    (lambda: telbit.decode_twos_complement("1", 8), TypeError,
     "argument 'value': 'str' object cannot be interpreted as an integer"),
    (lambda: telbit.decode_twos_complement(1, -1), OverflowError, "out of range integral type conversion attempted"),
    (lambda: telbit.decode_twos_complement(1, 2**32), OverflowError,
     "out of range integral type conversion attempted"),
    (lambda: telbit.decode_twos_complement(1, 2**63), OverflowError, None),
    (lambda: telbit.decode_twos_complement(1, 8.0), TypeError,
     "argument 'bits': 'float' object cannot be interpreted as an integer"),
    (lambda: telbit.encode_twos_complement(2**63, 64), OverflowError, None),
    (lambda: telbit.decode_ieee754_f128(-1), OverflowError, None),
    (lambda: telbit.decode_ieee754_f128(2**128), OverflowError, None),
    (lambda: telbit.decode_ieee754_f128(1.0), TypeError, "argument 'value': "),
    (lambda: telbit.encode_ieee754_f64("x"), TypeError, "argument 'value': must be real number, not str"),
    (lambda: telbit.encode_ieee754_f32(None), TypeError, "argument 'value': must be real number, not NoneType"),
    (lambda: telbit.decode_packed_bcd(1, 8, 1), TypeError, "argument 'signed': 'int' object cannot be cast as 'bool'"),
    (lambda: telbit.pack_parameters([], []), TypeError, "argument 'values': 'list' object cannot be cast as 'dict'"),
    (lambda: telbit.unpack_parameters(b"", 0, "abc"), TypeError, "argument 'recipe': Can't extract `str` to `Vec`"),
    (lambda: telbit.unpack_parameters(b"", 0, {}), TypeError,
     "argument 'recipe': 'dict' object cannot be cast as 'Sequence'"),
    (lambda: telbit.unpack_parameters(b"", 0, {1, 2}), TypeError,
     "argument 'recipe': 'set' object cannot be cast as 'Sequence'"),
    (lambda: telbit.unpack_parameters(b"", 0, (x for x in [])), TypeError,
     "argument 'recipe': 'generator' object cannot be cast as 'Sequence'"),
    (lambda: telbit.decode_ti_f32("x"), TypeError, "argument '_value': 'str' object cannot be interpreted as an integer"),
    (lambda: telbit.encode_ti_f40("x"), TypeError, "argument '_value': must be real number, not str"),
    (lambda: telbit.encode_utf8("\ud800"), UnicodeEncodeError, None),
])
def test_conversions_refuse(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value).startswith(message)
    if exc is not TypeError:
        assert "argument '" not in str(info.value)


class Wide(int):
    """An int the inline conversions leave to the general one."""


def _outcome(call):
    try:
        return call()
    except Exception as error:  # noqa: BLE001 - the outcome is what is compared
        return type(error), str(error)


# Every internal digit count a 64-bit value can have, each side of each boundary.
BOUNDARIES = sorted({s * (2**k + d) for k in (30, 32, 60, 62, 63, 64, 90) for d in (-1, 0, 1) for s in (1, -1)})


@pytest.mark.parametrize("value", BOUNDARIES)
@pytest.mark.parametrize("call", [
    lambda v: telbit.decode_twos_complement(v, 64),  # unsigned 64-bit argument
    lambda v: telbit.decode_twos_complement(1, v),  # unsigned 32-bit argument
    lambda v: telbit.encode_twos_complement(v, 64),  # signed 64-bit argument
    lambda v: telbit.encode_sign_magnitude(v, 64),
], ids=["u64", "u32", "i64", "i64-magnitude"])
def test_multi_digit_ints_convert_like_the_general_path(call, value):
    assert _outcome(lambda: call(value)) == _outcome(lambda: call(Wide(value)))


def test_argument_conversion_order():
    # Arguments convert in parameter order; the first failure wins.
    with pytest.raises(TypeError, match="argument 'packet_bytes'"):
        telbit.unpack_parameters(bytearray(), -1, "x")
    with pytest.raises(OverflowError):
        telbit.unpack_parameters(b"", -1, "x")
    # The recipe is converted before values is checked.
    with pytest.raises(TypeError, match="argument 'recipe'"):
        telbit.pack_parameters("x", [])


def test_nested_class_uses_qualified_name():
    class Outer:
        class Inner:
            pass
    with pytest.raises(TypeError) as info:
        telbit.decode_utf8(Outer.Inner())
    assert str(info.value) == (
        "argument 'bytes': 'test_nested_class_uses_qualified_name.<locals>.Outer.Inner' "
        "object cannot be cast as 'bytes'"
    )


class NotReally(TypeError):
    pass


def test_type_error_subclass_is_not_prefixed():
    with pytest.raises(NotReally) as info:
        telbit.decode_twos_complement(Index(0, raiser(NotReally, "mine")), 8)
    assert str(info.value) == "mine"


def test_subclasses_accepted():
    class B(bytes):
        pass

    class S(str):
        pass

    class I(int):
        pass

    assert telbit.decode_iso_8859_1(B(b"\xe9")) == "\xe9"
    assert telbit.encode_utf8(S("é")) == "é".encode()
    assert telbit.decode_twos_complement(I(255), I(8)) == -1


def test_numpy_bool_is_a_flag():
    numpy = pytest.importorskip("numpy")
    assert telbit.decode_packed_bcd(0x123D, 16, numpy.bool_(True)) == -123
    assert telbit.decode_packed_bcd(0x1234, 16, numpy.bool_(False)) == 1234
    with pytest.raises(TypeError, match="'int64' object cannot be cast as 'bool'"):
        telbit.decode_packed_bcd(0x123D, 16, numpy.int64(1))


def test_reimport_gives_same_module():
    module = sys.modules.pop("telbit")
    try:
        import telbit as again
        assert again is module
    finally:
        sys.modules["telbit"] = module
