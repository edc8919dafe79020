"""Random recipes, packets and values: only the documented exceptions escape, and packing
then unpacking gives every value back."""

import json
import math

from hypothesis import HealthCheck, assume, given, settings, strategies as st

import telbit
from functions import RECIPE_ENCODINGS
from hostile import Number

encodings = st.one_of(st.sampled_from(RECIPE_ENCODINGS), st.sampled_from(RECIPE_ENCODINGS).map(str.upper),
                      st.text(max_size=8))
anything = st.one_of(st.none(), st.booleans(), st.integers(-2**70, 2**70), st.floats(), st.text(max_size=6),
                     st.binary(max_size=6), st.lists(st.integers(), max_size=2))
entries = st.fixed_dictionaries(
    {"name": st.one_of(st.sampled_from(["a", "b", "c"]), anything),
     "encoding": st.one_of(encodings, anything),
     "bits": st.one_of(st.integers(0, 200), st.sampled_from([2**32 - 1, 2**32, -1]), anything),
     "byte_order": st.one_of(st.sampled_from(["big", "little", "LITTLE", "mid"]), anything),
     "reverse_bits": st.one_of(st.booleans(), anything)},
    optional={"offset_bits": st.one_of(st.integers(0, 600), st.integers(2**63, 2**64 - 1), anything),
              "extra": anything})
recipes = st.one_of(st.lists(st.one_of(entries, anything), max_size=6), st.lists(entries, max_size=6).map(tuple))
ARGUMENT_ERRORS = (TypeError, OverflowError)
# What a walk may wrap: its own errors, the key and value conversions' and the packet's
# allocation. Anything else (a SystemError above all) is a fault, even wrapped.
WRAPPED_KINDS = ("KeyError", "ValueError", "NotImplementedError", "TypeError", "OverflowError",
                 "UnicodeEncodeError", "MemoryError")


def assert_documented(error):
    assert type(error) is ValueError
    kind, separator, _ = str(error).partition(": ")
    assert separator and kind in WRAPPED_KINDS, str(error)


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(recipe=recipes, packet=st.binary(max_size=80),
       offset=st.one_of(st.integers(0, 700), st.integers(2**64 - 700, 2**64 - 1)))
def test_unpacking_raises_only_value_errors(recipe, packet, offset):
    try:
        result = telbit.unpack_parameters(packet, offset, recipe)
    except ValueError as error:
        assert_documented(error)
    else:
        assert isinstance(result, dict)
        assert all(type(k) is str for k in result)
        assert all(type(v) in (int, float, str) for v in result.values())


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(recipe=recipes, values=st.dictionaries(st.sampled_from(["a", "b", "c"]), anything, max_size=3))
def test_packing_raises_only_value_errors(recipe, values):
    try:
        packet = telbit.pack_parameters(recipe, values)
    except ValueError as error:
        assert_documented(error)
    else:
        assert type(packet) is bytes


@given(st.one_of(anything, st.sampled_from([b"", "x", {}, set(), iter([])])), anything)
def test_argument_errors_are_the_documented_kinds(first, second):
    for call in (lambda: telbit.unpack_parameters(first, second, []),
                 lambda: telbit.unpack_parameters(b"", 0, first),
                 lambda: telbit.pack_parameters(first, {}),
                 lambda: telbit.pack_parameters([], first)):
        try:
            call()
        except ARGUMENT_ERRORS:
            pass
        except ValueError:
            pass  # a walk error, wrapped


@st.composite
def numeric_fields(draw):
    """A numeric encoding, a width it takes, and a value in its range."""
    encoding = draw(st.sampled_from(["unsigned", "twos_complement", "ones_complement", "sign_magnitude",
                                     "packed_bcd", "packed_bcd_signed", "unpacked_bcd", "unpacked_bcd_signed",
                                     "ieee754_f16", "ieee754_f32", "ieee754_f64"]))
    if encoding == "unsigned":
        bits = draw(st.integers(1, 64))
        value = draw(st.integers(0, 2**bits - 1))
    elif encoding in ("twos_complement", "ones_complement", "sign_magnitude"):
        bits = draw(st.integers(2 if encoding == "sign_magnitude" else 1, 64))
        low = -2 ** (bits - 1) if encoding == "twos_complement" else -(2 ** (bits - 1) - 1)
        value = draw(st.integers(low, 2 ** (bits - 1) - 1))
    elif encoding.startswith("packed_bcd"):
        signed = encoding.endswith("signed")
        bits = draw(st.integers(8 if signed else 4, 64))
        digits = bits // 4 - signed
        value = draw(st.integers(-(10**digits - 1) if signed else 0, 10**digits - 1))
    elif encoding.startswith("unpacked_bcd"):
        bits = draw(st.integers(8, 64))
        digits = bits // 8
        value = draw(st.integers(-(10**digits - 1) if encoding.endswith("signed") else 0, 10**digits - 1))
    else:
        width = int(encoding[-2:])
        bits = draw(st.integers(width, 64))
        pattern = draw(st.integers(0, 2**width - 1))
        value = getattr(telbit, f"decode_{encoding}")(pattern)
        if math.isnan(value):
            value = 0.5
    return encoding, bits, value


def _byte_aligned(fields):
    """A recipe of whole-byte fields at explicit offsets with gaps between, its values, and its size."""
    recipe, values, cursor = [], {}, 0
    for index, ((encoding, bits, value), byte_order, reverse, gap) in enumerate(fields):
        cursor += gap
        name = f"f{index}"
        recipe.append({"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order,
                       "reverse_bits": reverse, "offset_bits": 8 * cursor})
        values[name] = value
        cursor += (bits + 7) // 8
    return recipe, values, cursor


@settings(max_examples=300, deadline=None)
@given(st.lists(st.tuples(numeric_fields(), st.sampled_from(["big", "little", "Big", "LITTLE"]), st.booleans(),
                          st.integers(0, 3)), min_size=1, max_size=8))
def test_pack_then_unpack_gives_the_values_back(fields):
    recipe, values, cursor = _byte_aligned(fields)
    packet = telbit.pack_parameters(recipe, values)
    assert len(packet) == cursor
    assert telbit.unpack_parameters(packet, 0, recipe) == values
    # The same recipe as read from a file: keys shared by the entries, every text a new
    # object, the encodings in changing letter cases.
    as_read = json.loads(json.dumps([dict(entry, encoding=entry["encoding"].upper() if i % 3 else entry["encoding"])
                                      for i, entry in enumerate(recipe)]))
    assert telbit.pack_parameters(as_read, values) == packet
    assert telbit.pack_parameters(as_read, dict(reversed(values.items()))) == packet
    assert telbit.unpack_parameters(packet, 0, as_read) == values


@settings(max_examples=200, deadline=None)
@given(st.lists(st.tuples(numeric_fields(), st.sampled_from(["big", "little"]), st.booleans(), st.booleans()),
                min_size=1, max_size=6))
def test_pack_reads_values_through_their_hooks(fields):
    # Values given as objects with __index__ / __float__ pack exactly as the plain numbers do.
    recipe, plain, hooked = [], {}, {}
    for index, ((encoding, bits, value), byte_order, reverse, wrap) in enumerate(fields):
        name = f"f{index}"
        recipe.append({"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order,
                       "reverse_bits": reverse})
        plain[name] = value
        hooked[name] = Number(value) if wrap else value
    assert telbit.pack_parameters(recipe, hooked) == telbit.pack_parameters(recipe, plain)


TEXT_WIDTHS = {
    # Encoded bytes per text, by the encodings' own definitions.
    "utf8": lambda text: len(text.encode("utf-8")),
    "utf16": lambda text: 2 + len(text.encode("utf-16-be")),
    "utf16le": lambda text: len(text.encode("utf-16-le")),
    "utf16be": lambda text: len(text.encode("utf-16-be")),
    "utf32": lambda text: 4 + 4 * len(text),
    "utf32le": lambda text: 4 * len(text),
    "utf32be": lambda text: 4 * len(text),
    "latin1": len, "iso_8859_1": len, "us_ascii": len, "windows_1252": len,
}
ALPHABETS = {"latin1": st.characters(max_codepoint=0xFF), "iso_8859_1": st.characters(max_codepoint=0xFF),
             "us_ascii": st.characters(max_codepoint=0x7F),
             "windows_1252": st.sampled_from("A z\x00\x7f\x81\x8d\x9d\xa0\xe9\xff\u20ac\u2122\u0152\u017e")}
BYTE_ORDER_MARKS = (b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff")


@st.composite
def text_fields(draw):
    """A text encoding and a text it can carry, with the field exactly as wide as its bytes."""
    encoding = draw(st.sampled_from(sorted(TEXT_WIDTHS)))
    text = draw(st.text(ALPHABETS.get(encoding, st.characters(exclude_categories=("Cs",))), max_size=8))
    if encoding == "windows_1252":
        # A text whose bytes begin with a byte order mark decodes as the marked encoding.
        assume(not telbit.encode_windows_1252(text).startswith(BYTE_ORDER_MARKS))
    if encoding in ("utf16", "utf32"):
        assume(text != "")  # the bare mark reads back as the empty text, but only that
    return encoding, 8 * TEXT_WIDTHS[encoding](text), text


@settings(max_examples=300, deadline=None)
@given(st.lists(st.tuples(st.one_of(numeric_fields(), text_fields()), st.sampled_from(["big", "little", "Little"]),
                          st.booleans(), st.integers(0, 3)), min_size=1, max_size=8),
       st.integers(0, 2**64 - 1))
def test_round_trip_with_text_and_a_wrapping_start(fields, start):
    recipe, values, cursor = _byte_aligned(fields)
    packet = telbit.pack_parameters(recipe, values)
    assert len(packet) == cursor
    assert telbit.unpack_parameters(packet, 0, recipe) == values
    # Positions wrap modulo 2^64: starting anywhere, offsets that wrap back to the same
    # positions read the same fields.
    shifted = [dict(entry, offset_bits=(entry["offset_bits"] - start) % 2**64) for entry in recipe]
    assert telbit.unpack_parameters(packet, start, shifted) == values
