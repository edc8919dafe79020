"""US-ASCII, ISO-8859-1 and Windows-1252 against CPython's codecs and the WHATWG index."""

import pathlib

import pytest
from hypothesis import given, strategies as st

import telbit
from helpers import field, wrapped

INDEX_FILE = pathlib.Path(__file__).parent / "data" / "index-windows-1252.txt"

# The WHATWG index windows-1252 for bytes 80..9F, as published.
WHATWG_80_9F = [
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D,
    0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A,
    0x0153, 0x009D, 0x017E, 0x0178,
]


def whatwg_index():
    """Byte -> code point for bytes 80..FF, read from the published index file."""
    table = {}
    for line in INDEX_FILE.read_text().splitlines():
        if line.strip() and not line.startswith("#"):
            pointer, code_point = line.split()[:2]
            table[0x80 + int(pointer)] = int(code_point, 16)
    return table


def test_index_file_matches_the_written_entries():
    index = whatwg_index()
    assert [index[b] for b in range(0x80, 0xA0)] == WHATWG_80_9F
    assert all(index[b] == b for b in range(0xA0, 0x100))


def test_every_windows_1252_byte():
    index = whatwg_index()
    for byte in range(256):
        expected = chr(index.get(byte, byte))
        if byte in (0xEF, 0xFE, 0xFF):
            continue  # a lone byte here is not a mark; covered below with neighbours
        assert telbit.decode_windows_1252(bytes([byte])) == expected
        assert telbit.encode_windows_1252(expected) == bytes([byte])
    assert telbit.decode_windows_1252(bytes([0xEF, 0xFE, 0xFF])) == "\xef\xfe\xff"


@pytest.mark.parametrize("code_point", [0x80, *range(0x82, 0x8D), 0x8E, *range(0x91, 0x9D), 0x9E, 0x9F, 0x100,
                                        0x20AD, 0x1F600])
def test_windows_1252_unmappable(code_point):
    assert code_point not in WHATWG_80_9F
    with pytest.raises(ValueError) as info:
        telbit.encode_windows_1252("A" + chr(code_point))
    assert str(info.value) == "Failed to encode to Windows-1252"


@pytest.mark.parametrize("hex_bytes, text", [
    ("80", "\u20ac"), ("81", "\x81"), ("9d", "\x9d"), ("a0ff", "\xa0\xff"), ("efbbbf41", "A"), ("fffe4100", "A"),
    ("feff0041", "A"), ("efbb", "\xef\xbb"), ("fffe", ""), ("efbbbf", ""), ("feffd83dde00", "\U0001F600"), ("fffe3dd800de", "\U0001F600"),
    ("41008000", "A\x00\u20ac\x00"),
])
def test_windows_1252_decode(hex_bytes, text):
    assert telbit.decode_windows_1252(bytes.fromhex(hex_bytes)) == text


@pytest.mark.parametrize("hex_bytes", ["efbbbfff", "fffe41", "fffe00d8", "feffdc00", "efbbbfc0af", "feffd83d"])
def test_windows_1252_malformed_after_mark(hex_bytes):
    with pytest.raises(ValueError) as info:
        telbit.decode_windows_1252(bytes.fromhex(hex_bytes))
    assert str(info.value) == "Failed to decode Windows-1252 bytes"


@given(st.binary(max_size=40))
def test_windows_1252_without_mark_never_fails(data):
    if data[:3] == b"\xef\xbb\xbf" or data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        return
    index = whatwg_index()
    text = telbit.decode_windows_1252(data)
    assert text == "".join(chr(index.get(b, b)) for b in data)
    assert telbit.encode_windows_1252(text) == data


@given(st.binary(max_size=40))
def test_ascii_and_latin1_agree_with_cpython(data):
    assert telbit.decode_iso_8859_1(data) == data.decode("latin-1")
    assert telbit.encode_iso_8859_1(data.decode("latin-1")) == data
    try:
        expected = data.decode("ascii")
    except UnicodeDecodeError as error:
        with pytest.raises(ValueError) as info:
            telbit.decode_us_ascii(data)
        assert str(info.value) == f"Invalid US-ASCII byte: 0x{data[error.start]:02X} (must be <= 0x7F)"
    else:
        assert telbit.decode_us_ascii(data) == expected
        assert telbit.encode_us_ascii(expected) == data


@given(st.text(st.characters(exclude_categories=("Cs",)), max_size=30))
def test_text_encoders_agree_with_cpython(text):
    for function, codec, name in (("encode_us_ascii", "ascii", "US-ASCII"),
                                  ("encode_iso_8859_1", "latin-1", "ISO-8859-1")):
        try:
            expected = text.encode(codec)
        except UnicodeEncodeError as error:
            offender = text[error.start]
            with pytest.raises(ValueError) as info:
                getattr(telbit, function)(text)
            assert str(info.value) == f"Character '{offender}' (U+{ord(offender):04X}) is not valid {name}"
        else:
            assert getattr(telbit, function)(text) == expected


@pytest.mark.parametrize("function, text, message", [
    ("encode_us_ascii", "A\xe9\u20ac", "Character '\xe9' (U+00E9) is not valid US-ASCII"),
    ("encode_us_ascii", "\U0001F600", "Character '\U0001F600' (U+1F600) is not valid US-ASCII"),
    ("encode_us_ascii", "\x80", "Character '\x80' (U+0080) is not valid US-ASCII"),
    ("encode_iso_8859_1", "\u0100", "Character '\u0100' (U+0100) is not valid ISO-8859-1"),
    ("encode_iso_8859_1", "\xff\u20ac", "Character '\u20ac' (U+20AC) is not valid ISO-8859-1"),
])
def test_encoder_messages(function, text, message):
    with pytest.raises(ValueError) as info:
        getattr(telbit, function)(text)
    assert str(info.value) == message


@pytest.mark.parametrize("hex_bytes, message", [
    ("418000ff", "Invalid US-ASCII byte: 0x80 (must be <= 0x7F)"),
    ("ff", "Invalid US-ASCII byte: 0xFF (must be <= 0x7F)"),
    ("41" * 20 + "e9", "Invalid US-ASCII byte: 0xE9 (must be <= 0x7F)"),
])
def test_ascii_decode_names_first_offender(hex_bytes, message):
    with pytest.raises(ValueError) as info:
        telbit.decode_us_ascii(bytes.fromhex(hex_bytes))
    assert str(info.value) == message


@pytest.mark.parametrize("encoding", ["iso_8859_1", "latin1", "LATIN1", "Iso_8859_1"])
def test_latin1_names_in_recipes(encoding):
    recipe = [field("t", encoding, 8)]
    assert telbit.unpack_parameters(b"\xe9", 0, recipe) == {"t": "\xe9"}
    assert telbit.pack_parameters(recipe, {"t": "\xe9"}) == b"\xe9"


def test_single_byte_recipe_fields():
    assert telbit.unpack_parameters(b"\x80\x41", 0, [field("t", "windows_1252", 16, "little")]) == {"t": "A\u20ac"}
    assert telbit.pack_parameters([field("t", "windows_1252", 16, "little")], {"t": "A\u20ac"}) == b"\x80\x41"
    assert telbit.unpack_parameters(b"AB\x00", 0, [field("t", "us_ascii", 24)]) == {"t": "AB\x00"}
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(b"\xe9", 0, [field("t", "us_ascii", 8)])
    assert str(info.value) == wrapped(ValueError, "Invalid US-ASCII byte: 0xE9 (must be <= 0x7F)")
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("t", "US_ASCII", 8)], {"t": "\xe9"})
    assert str(info.value) == wrapped(ValueError, "Character '\xe9' (U+00E9) is not valid US-ASCII")
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("t", "windows_1252", 8)], {"t": "\x80"})
    assert str(info.value) == wrapped(ValueError, "Failed to encode to Windows-1252")
