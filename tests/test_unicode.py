"""UTF-8, UTF-16 and UTF-32 against CPython's own codecs, and their use in recipes."""

import codecs
import re

import pytest
from hypothesis import given, strategies as st

import telbit
from helpers import expected_text_packet, field, text_recipe, wrapped

LONE = "Invalid UTF-16 sequence: invalid utf-16: lone surrogate found"

# Text with every kind of character, surrogates excluded (a str holding one is refused).
texts = st.text(st.characters(exclude_categories=("Cs",)), max_size=40)
adversarial_bytes = st.lists(
    st.sampled_from([0x00, 0x41, 0x7F, 0x80, 0x8F, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xED,
                     0xEE, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xFE, 0xFF, 0xD8, 0xDC, 0xDB, 0xDF, 0x10, 0x11]),
    max_size=24).map(bytes)
any_bytes = st.one_of(st.binary(max_size=40), adversarial_bytes)


def utf8_message(error):
    if error.reason == "unexpected end of data":
        return f"Invalid UTF-8 bytes: incomplete utf-8 byte sequence from index {error.start}"
    return f"Invalid UTF-8 bytes: invalid utf-8 sequence of {error.end - error.start} bytes from index {error.start}"


def assert_utf8_like_cpython(data):
    try:
        expected = data.decode("utf-8")
    except UnicodeDecodeError as error:
        with pytest.raises(ValueError) as info:
            telbit.decode_utf8(data)
        assert str(info.value) == utf8_message(error)
    else:
        assert telbit.decode_utf8(data) == expected


@given(any_bytes)
def test_utf8_agrees_with_cpython(data):
    assert_utf8_like_cpython(data)


@pytest.mark.parametrize("hex_bytes, message", [
    # The Unicode Standard's maximal-subpart examples.
    ("c080", "invalid utf-8 sequence of 1 bytes from index 0"),
    ("ff", "invalid utf-8 sequence of 1 bytes from index 0"),
    ("61e228a1", "invalid utf-8 sequence of 1 bytes from index 1"),
    ("e282", "incomplete utf-8 byte sequence from index 0"),
    ("6162e282", "incomplete utf-8 byte sequence from index 2"),
    ("e080", "invalid utf-8 sequence of 1 bytes from index 0"),
    ("f09f9841", "invalid utf-8 sequence of 3 bytes from index 0"),
    ("eda080", "invalid utf-8 sequence of 1 bytes from index 0"),
    ("e28241", "invalid utf-8 sequence of 2 bytes from index 0"),
    ("f4908080", "invalid utf-8 sequence of 1 bytes from index 0"),
    ("f5808080", "invalid utf-8 sequence of 1 bytes from index 0"),
    ("f0", "incomplete utf-8 byte sequence from index 0"),
    ("41424344454647484980", "invalid utf-8 sequence of 1 bytes from index 9"),
])
def test_utf8_error_examples(hex_bytes, message):
    with pytest.raises(ValueError) as info:
        telbit.decode_utf8(bytes.fromhex(hex_bytes))
    assert str(info.value) == f"Invalid UTF-8 bytes: {message}"


@pytest.mark.parametrize("hex_bytes, text", [
    ("efbbbf41", "\ufeffA"), ("410000", "A\x00\x00"), ("", ""), ("f4808080", "\U00100000"),
    ("e282ac" * 5, "\u20ac" * 5), ("41" * 17 + "c3a9", "A" * 17 + "\xe9"),
])
def test_utf8_examples(hex_bytes, text):
    assert telbit.decode_utf8(bytes.fromhex(hex_bytes)) == text


@given(texts)
def test_encoders_agree_with_cpython(text):
    assert telbit.encode_utf8(text) == text.encode("utf-8")
    assert telbit.encode_utf16be(text) == text.encode("utf-16-be")
    assert telbit.encode_utf16le(text) == text.encode("utf-16-le")
    assert telbit.encode_utf32be(text) == text.encode("utf-32-be")
    assert telbit.encode_utf32le(text) == text.encode("utf-32-le")
    assert telbit.encode_utf16(text) == codecs.BOM_UTF16_BE + text.encode("utf-16-be")
    assert telbit.encode_utf32(text) == b"\x00\x00\xfe\xff" + text.encode("utf-32-be")


@given(st.text(st.characters(exclude_categories=("Cs",)), max_size=40) | st.sampled_from(
    ["", "\x00", "\ufeff", "\ufeffA", "\U0001F600", "A\x00\ufeff\U0010FFFF"]))
def test_round_trips(text):
    assert telbit.decode_utf8(telbit.encode_utf8(text)) == text
    assert telbit.decode_utf16(telbit.encode_utf16(text)) == text
    assert telbit.decode_utf32(telbit.encode_utf32(text)) == text
    for suffix in ("be", "le"):
        assert getattr(telbit, f"decode_utf16{suffix}")(getattr(telbit, f"encode_utf16{suffix}")(text)) == text
        assert getattr(telbit, f"decode_utf32{suffix}")(getattr(telbit, f"encode_utf32{suffix}")(text)) == text


@pytest.mark.parametrize("codec, function", [("utf-16-be", "decode_utf16be"), ("utf-16-le", "decode_utf16le")])
@given(data=any_bytes)
def test_utf16_agrees_with_cpython(codec, function, data):
    try:
        expected = data.decode(codec)
    except UnicodeDecodeError:
        with pytest.raises(ValueError) as info:
            getattr(telbit, function)(data)
        odd = "UTF-16 requires an even number of bytes"
        assert str(info.value) == (odd if len(data) % 2 else LONE)
    else:
        assert getattr(telbit, function)(data) == expected


@pytest.mark.parametrize("codec, function", [("utf-32-be", "decode_utf32be"), ("utf-32-le", "decode_utf32le")])
@given(data=st.one_of(any_bytes, st.lists(st.integers(0, 0x11FFFF), max_size=8).map(
    lambda units: b"".join(u.to_bytes(4, "big") for u in units))))
def test_utf32_agrees_with_cpython(codec, function, data):
    try:
        expected = data.decode(codec)
    except UnicodeDecodeError as error:
        with pytest.raises(ValueError) as info:
            getattr(telbit, function)(data)
        if len(data) % 4:
            assert str(info.value) == "UTF-32 requires a multiple of 4 bytes"
        else:
            unit = int.from_bytes(data[error.start:error.start + 4], "big" if codec.endswith("be") else "little")
            assert str(info.value) == f"Invalid UTF-32 codepoint: 0x{unit:08X}"
    else:
        assert getattr(telbit, function)(data) == expected


@pytest.mark.parametrize("function, hex_bytes, expected", [
    ("decode_utf16", "feff", ""), ("decode_utf16", "fffe", ""), ("decode_utf16", "fffe4100", "A"),
    ("decode_utf16", "0041", "A"), ("decode_utf16", "feff0041feff", "A\ufeff"),
    ("decode_utf16be", "", ""), ("decode_utf16be", "feff0041", "\ufeffA"), ("decode_utf16le", "feff", "\ufffe"),
    ("decode_utf16be", "d83dde00", "\U0001F600"), ("decode_utf16le", "3dd800de", "\U0001F600"),
    ("decode_utf32", "0000feff", ""), ("decode_utf32", "fffe000041000000", "A"), ("decode_utf32", "00000041", "A"),
    ("decode_utf32be", "0010ffff", "\U0010FFFF"), ("decode_utf32le", "", ""),
    ("decode_utf32be", "0000feff00000041", "\ufeffA"),
])
def test_bom_handling(function, hex_bytes, expected):
    assert getattr(telbit, function)(bytes.fromhex(hex_bytes)) == expected


@pytest.mark.parametrize("function, hex_bytes, message", [
    ("decode_utf16", "", "UTF-16 requires an even number of bytes with at least 2 bytes"),
    ("decode_utf16", "00", "UTF-16 requires an even number of bytes with at least 2 bytes"),
    ("decode_utf16", "feff00", "UTF-16 requires an even number of bytes with at least 2 bytes"),
    ("decode_utf16", "fffe00d8", LONE),
    ("decode_utf16le", "616263", "UTF-16 requires an even number of bytes"),
    ("decode_utf16be", "d83d", LONE), ("decode_utf16be", "de00d83d", LONE), ("decode_utf16be", "d83d0041", LONE),
    ("decode_utf32", "000000", "UTF-32 requires a multiple of 4 bytes with at least 4 bytes"),
    ("decode_utf32", "", "UTF-32 requires a multiple of 4 bytes with at least 4 bytes"),
    ("decode_utf32be", "0000d800", "Invalid UTF-32 codepoint: 0x0000D800"),
    ("decode_utf32le", "00001100", "Invalid UTF-32 codepoint: 0x00110000"),
    ("decode_utf32be", "00000041ffffffff", "Invalid UTF-32 codepoint: 0xFFFFFFFF"),
    ("decode_utf32be", "0000004100", "UTF-32 requires a multiple of 4 bytes"),
])
def test_utf16_utf32_errors(function, hex_bytes, message):
    with pytest.raises(ValueError) as info:
        getattr(telbit, function)(bytes.fromhex(hex_bytes))
    assert str(info.value) == message


@pytest.mark.parametrize("function, expected", [
    ("encode_utf16", "feff"), ("encode_utf32", "0000feff"), ("encode_utf8", ""), ("encode_utf16be", ""),
    ("encode_utf16le", ""), ("encode_utf32be", ""), ("encode_utf32le", ""),
])
def test_encoding_empty_text(function, expected):
    assert getattr(telbit, function)("").hex() == expected


@pytest.mark.parametrize("function", ["encode_utf8", "encode_utf16", "encode_utf32le"])
def test_lone_surrogate_is_refused_when_taken(function):
    with pytest.raises(UnicodeEncodeError):
        getattr(telbit, function)("a\udc00")


@pytest.mark.parametrize("encoding, byte_order, hex_bytes, text", [
    ("utf8", "little", "616263", "cba"),
    ("utf8", "big", "616263", "abc"),
    ("utf16le", "little", "41004200", "\u4200\u4100"),
    ("utf16le", "big", "41004200", "AB"),
    ("UTF16", "big", "feff0041", "A"),
    ("utf32be", "big", "0001f600", "\U0001F600"),
    ("utf32", "little", "41000000", "A"),
    ("utf8", "big", "41000000", "A\x00\x00\x00"),
])
def test_recipe_text_fields(encoding, byte_order, hex_bytes, text):
    bits = 8 * len(bytes.fromhex(hex_bytes))
    recipe = [field("t", encoding, bits, byte_order, reverse_bits=True)]
    assert telbit.unpack_parameters(bytes.fromhex(hex_bytes), 0, recipe) == {"t": text}


def test_recipe_text_field_widths():
    assert telbit.unpack_parameters(b"AB", 0, [field("t", "utf8", 12)]) == {"t": "AB"}
    assert telbit.unpack_parameters(b"", 0, [field("t", "utf16be", 0)]) == {"t": ""}
    for encoding, message in (("utf16", "UTF-16 requires an even number of bytes with at least 2 bytes"),
                              ("utf32", "UTF-32 requires a multiple of 4 bytes with at least 4 bytes")):
        with pytest.raises(ValueError) as info:
            telbit.unpack_parameters(b"", 0, [field("t", encoding, 0)])
        assert str(info.value) == wrapped(ValueError, message)


@pytest.mark.parametrize("encoding, text, byte_order, expected", [
    ("utf8", "abc", "little", "636261"),
    ("utf16", "A", "big", "feff0041"),
    ("utf32", "A", "big", "0000feff00000041"),
    ("utf16le", "\U0001F600", "big", "3dd800de"),
    ("utf32be", "A", "little", "41000000"),
])
def test_recipe_text_packing(encoding, text, byte_order, expected):
    bits = 4 * len(expected)
    recipe = [field("t", encoding, bits, byte_order)]
    packet = telbit.pack_parameters(recipe, {"t": text})
    assert packet.hex() == expected
    assert telbit.unpack_parameters(packet, 0, recipe) == {"t": text}


def test_long_text_stops_at_its_field():
    recipe = [field("a", "unsigned", 8), field("t", "utf16be", 32), field("b", "unsigned", 8)]
    assert telbit.pack_parameters(recipe, {"a": 1, "t": "ABCD", "b": 2}).hex() == "010041004202"
    recipe = [field("t", "utf8", 16)]
    assert telbit.pack_parameters(recipe + [field("u", "unsigned", 16)], {"t": "sixchr", "u": 0}) == b"si\x00\x00"


def test_recipe_text_errors_are_wrapped():
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(b"\xff", 0, [field("t", "utf8", 8)])
    assert str(info.value) == wrapped(ValueError, "Invalid UTF-8 bytes: invalid utf-8 sequence of 1 bytes from index 0")
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(b"\x00\x00\xd8\x00", 0, [field("t", "utf32be", 32)])
    assert str(info.value) == wrapped(ValueError, "Invalid UTF-32 codepoint: 0x0000D800")
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("t", "utf16be", 16)], {"t": "\ud800"})
    assert str(info.value).startswith("UnicodeEncodeError: ")


# The Unicode Standard's examples of U+FFFD substitution for maximal subparts of ill-formed
# UTF-8 (one U+FFFD per maximal subpart), as the Standard prints them.
STANDARD_SUBSTITUTIONS = [
    ("61 F1 80 80 E1 80 C2 62 80 63 80 BF 64", "a\ufffd\ufffd\ufffdb\ufffdc\ufffd\ufffdd"),
    ("C0 AF E0 80 BF F0 81 82 41", "\ufffd" * 8 + "A"),
    ("ED A0 80 ED BF BF ED AF 41", "\ufffd" * 8 + "A"),
    ("F4 91 92 93 FF 41 80 BF 42", "\ufffd" * 5 + "A\ufffd\ufffdB"),
    ("E1 80 E2 F0 91 92 F1 BF 41", "\ufffd" * 4 + "A"),
]
UTF8_ERROR = re.compile(r"Invalid UTF-8 bytes: (?:invalid utf-8 sequence of (\d) bytes|"
                        r"incomplete utf-8 byte sequence) from index (\d+)\Z")


def substitute_with_telbit(data):
    """Decodes like errors="replace", each maximal subpart taken from telbit's own report."""
    text = ""
    while True:
        try:
            return text + telbit.decode_utf8(data)
        except ValueError as error:
            match = UTF8_ERROR.match(str(error))
            assert match, str(error)
            index = int(match[2])
            length = int(match[1]) if match[1] else len(data) - index
            text += telbit.decode_utf8(data[:index]) + "\ufffd"
            data = data[index + length:]


@pytest.mark.parametrize("hex_bytes, expected", STANDARD_SUBSTITUTIONS)
def test_maximal_subparts_match_the_standard(hex_bytes, expected):
    data = bytes.fromhex(hex_bytes)
    # CPython is the oracle for the random tests above only because it substitutes the same way.
    assert data.decode("utf-8", "replace") == expected
    assert substitute_with_telbit(data) == expected


def corrupted_utf8(draw_text, cut, insert, position):
    """Valid UTF-8 with one byte dropped and one inserted: errors right next to valid sequences."""
    data = draw_text.encode("utf-8")
    position = min(position, len(data))
    data = data[:position] + data[position + cut:]
    return data[:position] + insert + data[position:]


@given(st.builds(corrupted_utf8, texts, st.integers(0, 2), st.sampled_from([b"", b"\x80", b"\xbf", b"\xe0", b"\xed",
                                                                              b"\xf0", b"\xf4", b"\xc2"]),
                 st.integers(0, 120)))
def test_utf8_near_valid_agrees_with_cpython(data):
    assert_utf8_like_cpython(data)
    assert substitute_with_telbit(data) == data.decode("utf-8", "replace")


def strip_mark(data, marks):
    """CPython's BOM-reading codecs default to the machine's order; ours default to big-endian."""
    for mark, codec in marks:
        if data.startswith(mark):
            return data[len(mark):], codec
    return data, marks[0][1]


@given(st.one_of(any_bytes, st.tuples(st.sampled_from([b"\xfe\xff", b"\xff\xfe"]), any_bytes).map(b"".join)))
def test_utf16_with_mark_agrees_with_cpython(data):
    body, codec = strip_mark(data, [(b"\xfe\xff", "utf-16-be"), (b"\xff\xfe", "utf-16-le")])
    if len(data) < 2 or len(data) % 2:
        expected_error = "UTF-16 requires an even number of bytes with at least 2 bytes"
    else:
        try:
            expected = body.decode(codec)
        except UnicodeDecodeError:
            expected_error = LONE
        else:
            assert telbit.decode_utf16(data) == expected
            return
    with pytest.raises(ValueError) as info:
        telbit.decode_utf16(data)
    assert str(info.value) == expected_error


@given(st.tuples(st.sampled_from([b"", b"\x00\x00\xfe\xff", b"\xff\xfe\x00\x00"]),
                 st.lists(st.integers(0, 0x11FFFF) | st.sampled_from([0xD800, 0xFFFE0000, 0xFEFF]), max_size=6),
                 st.sampled_from(["big", "little"]), st.binary(max_size=3)))
def test_utf32_with_mark_agrees_with_cpython(parts):
    mark, units, order, tail = parts
    if mark == b"\xff\xfe\x00\x00":
        order = "little"
    data = mark + b"".join(unit.to_bytes(4, order) for unit in units) + tail
    body, codec = strip_mark(data, [(b"\x00\x00\xfe\xff", "utf-32-be"), (b"\xff\xfe\x00\x00", "utf-32-le")])
    if len(data) < 4 or len(data) % 4:
        expected_error = "UTF-32 requires a multiple of 4 bytes with at least 4 bytes"
    else:
        try:
            expected = body.decode(codec)
        except UnicodeDecodeError as error:
            unit = int.from_bytes(body[error.start:error.start + 4], "big" if codec.endswith("be") else "little")
            expected_error = f"Invalid UTF-32 codepoint: 0x{unit:08X}"
        else:
            assert telbit.decode_utf32(data) == expected
            return
    with pytest.raises(ValueError) as info:
        telbit.decode_utf32(data)
    assert str(info.value) == expected_error


UTF_ORACLES = {
    "utf8": lambda text: text.encode("utf-8"),
    "utf16": lambda text: codecs.BOM_UTF16_BE + text.encode("utf-16-be"),
    "utf32": lambda text: codecs.BOM_UTF32_BE + text.encode("utf-32-be"),
    "utf16be": lambda text: text.encode("utf-16-be"),
    "utf16le": lambda text: text.encode("utf-16-le"),
    "utf32be": lambda text: text.encode("utf-32-be"),
    "utf32le": lambda text: text.encode("utf-32-le"),
}


@pytest.mark.parametrize("encoding", UTF_ORACLES)
@given(text=texts, byte_order=st.sampled_from(["big", "little"]), extra_bits=st.integers(-40, 12))
def test_recipe_utf_fields_against_cpython(encoding, text, byte_order, extra_bits):
    encoded = UTF_ORACLES[encoding](text)
    bits = max(0, 8 * len(encoded) + extra_bits)
    recipe = text_recipe(encoding, bits, byte_order)
    packet = telbit.pack_parameters(recipe, {"a": 0xAA, "t": text, "b": 0x55})
    assert packet == expected_text_packet(encoded, bits, byte_order)
    if bits == 8 * len(encoded):
        assert telbit.unpack_parameters(packet, 0, recipe) == {"a": 0xAA, "t": text, "b": 0x55}


@pytest.mark.parametrize("encoding", UTF_ORACLES)
def test_recipe_lone_surrogate_is_the_interpreters_error(encoding):
    with pytest.raises(UnicodeEncodeError) as oracle:
        "a\udfff".encode("utf-8")
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("t", encoding, 64)], {"t": "a\udfff"})
    assert str(info.value) == f"UnicodeEncodeError: {oracle.value}"
    with pytest.raises(UnicodeEncodeError) as info:
        getattr(telbit, f"encode_{encoding}")("a\udfff")
    assert str(info.value) == str(oracle.value)


@pytest.mark.parametrize("encoding", ["utf8", "utf16be", "utf16le", "utf32be", "utf32le", "utf16", "utf32"])
def test_large_text_round_trips(encoding):
    # Long enough for every fast path to run many words, with characters of every length.
    text = ("telemetry " * 5000 + "\xe9\u20ac\U0001F600\x00") * 20
    encoded = getattr(telbit, f"encode_{encoding}")(text)
    assert encoded == UTF_ORACLES[encoding](text)
    assert getattr(telbit, f"decode_{encoding}")(encoded) == text
