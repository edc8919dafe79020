"""The module's surface: the function table, text signatures, argument binding and conversion."""

import inspect
import sys

import pytest

import telbit
from functions import CALLS, FUNCTIONS, NAMES
from hostile import Index, raiser

ACCEPTED = [call for call in CALLS if call.raises is None]
REFUSED = [call for call in CALLS if call.raises is not None]


def test_table_order_and_all():
    assert len(FUNCTIONS) == 62
    assert telbit.__all__ == NAMES
    public = [n for n in dir(telbit) if not n.startswith("_")]
    assert sorted(public) == sorted(NAMES)


@pytest.mark.parametrize("described", FUNCTIONS, ids=NAMES)
def test_builtin_with_text_signature_only(described):
    function = getattr(telbit, described.name)
    assert type(function).__name__ == "builtin_function_or_method"
    assert function.__name__ == described.name
    assert function.__module__ == "telbit"
    assert function.__self__ is telbit
    assert function.__text_signature__ == f"({described.signature})"
    assert function.__doc__ is None
    assert str(inspect.signature(function)) == f"({described.signature})"


def test_module_itself():
    assert telbit.__doc__ == ""
    assert telbit.__name__ == "telbit"


@pytest.mark.parametrize("call", ACCEPTED, ids=[call.label for call in ACCEPTED])
def test_accepted_calls(call):
    assert call() == call.result


@pytest.mark.parametrize("call", REFUSED, ids=[call.label for call in REFUSED])
def test_refused_calls(call):
    # Conversion, binding and operation errors alike: the exact type, and the message.
    with pytest.raises(call.raises) as info:
        call()
    assert type(info.value) is call.raises
    if call.message is not None:
        assert str(info.value) == call.message
    if call.raises is not TypeError:
        assert "argument '" not in str(info.value)


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
