"""US-ASCII, ISO-8859-1 and Windows-1252 against CPython's codecs and the WHATWG index."""

import pathlib

import pytest
from hypothesis import given, strategies as st

import telbit
from helpers import expected_text_packet, field, text_recipe, wrapped

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


# CPython's cp1252 leaves 81, 8D, 8F, 90 and 9D undefined where WHATWG maps them to the C1
# controls of the same number; everywhere else the two agree.
WHATWG_ONLY = {0x81, 0x8D, 0x8F, 0x90, 0x9D}


def test_every_byte_agrees_with_cpython_cp1252():
    for byte in range(256):
        expected = chr(byte) if byte in WHATWG_ONLY else bytes([byte]).decode("cp1252")
        assert telbit.decode_windows_1252(bytes([byte])) == expected


cp1252_texts = st.text(st.sampled_from([bytes([b]).decode("cp1252") for b in range(256) if b not in WHATWG_ONLY]
                                       + ["\u0100", "\u20ad", "\x80", "\x9f", "\U0001F600"]), max_size=30)


@given(cp1252_texts)
def test_windows_1252_encoder_agrees_with_cpython_cp1252(text):
    try:
        expected = text.encode("cp1252")
    except UnicodeEncodeError:
        with pytest.raises(ValueError) as info:
            telbit.encode_windows_1252(text)
        assert str(info.value) == "Failed to encode to Windows-1252"
    else:
        assert telbit.encode_windows_1252(text) == expected


@given(st.sampled_from([(b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be")]),
       st.one_of(st.binary(max_size=20), st.text(max_size=10).map(lambda t: t.encode("utf-8", "surrogatepass")),
                 st.text(max_size=10).map(lambda t: t.encode("utf-16-le", "surrogatepass"))))
def test_windows_1252_after_a_mark_agrees_with_cpython(mark_and_codec, body):
    mark, codec = mark_and_codec
    try:
        expected = body.decode(codec)
    except UnicodeDecodeError:
        with pytest.raises(ValueError) as info:
            telbit.decode_windows_1252(mark + body)
        assert str(info.value) == "Failed to decode Windows-1252 bytes"
    else:
        assert telbit.decode_windows_1252(mark + body) == expected


def whatwg_encode(text):
    inverse = {chr(code_point): byte for byte, code_point in whatwg_index().items()}
    return bytes(ord(c) if c < "\x80" else inverse[c] for c in text)


SINGLE_BYTE_ORACLES = {
    "us_ascii": (lambda text: text.encode("ascii"), st.text(st.characters(max_codepoint=0x7F), max_size=30)),
    "iso_8859_1": (lambda text: text.encode("latin-1"), st.text(st.characters(max_codepoint=0xFF), max_size=30)),
    "latin1": (lambda text: text.encode("latin-1"), st.text(st.characters(max_codepoint=0xFF), max_size=30)),
    "windows_1252": (whatwg_encode, st.text(st.sampled_from([chr(c) for c in range(0x80)] + [
        chr(c) for c in WHATWG_80_9F] + [chr(c) for c in range(0xA0, 0x100)]), max_size=30)),
}


@pytest.mark.parametrize("encoding", SINGLE_BYTE_ORACLES)
@given(data=st.data(), byte_order=st.sampled_from(["big", "little"]), extra_bits=st.integers(-40, 12))
def test_recipe_single_byte_fields(encoding, data, byte_order, extra_bits):
    oracle, repertoire = SINGLE_BYTE_ORACLES[encoding]
    text = data.draw(repertoire)
    encoded = oracle(text)
    bits = max(0, 8 * len(encoded) + extra_bits)
    recipe = text_recipe(encoding, bits, byte_order)
    packet = telbit.pack_parameters(recipe, {"a": 0xAA, "t": text, "b": 0x55})
    assert packet == expected_text_packet(encoded, bits, byte_order)
    marked = encoding == "windows_1252" and encoded.startswith((b"\xef\xbb\xbf", b"\xff\xfe", b"\xfe\xff"))
    if bits == 8 * len(encoded) and byte_order == "big" and not marked:
        assert telbit.unpack_parameters(packet, 0, recipe) == {"a": 0xAA, "t": text, "b": 0x55}


@pytest.mark.parametrize("encoding", ["us_ascii", "iso_8859_1", "windows_1252"])
def test_lone_surrogate_is_the_interpreters_error(encoding):
    with pytest.raises(UnicodeEncodeError) as oracle:
        "\ud800b".encode("utf-8")
    with pytest.raises(UnicodeEncodeError) as info:
        getattr(telbit, f"encode_{encoding}")("\ud800b")
    assert str(info.value) == str(oracle.value)
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("t", encoding, 16)], {"t": "\ud800b"})
    assert str(info.value) == f"UnicodeEncodeError: {oracle.value}"


@pytest.mark.parametrize("encoding, codec", [("us_ascii", "ascii"), ("iso_8859_1", "latin-1"),
                                             ("windows_1252", "cp1252")])
def test_large_text_round_trips(encoding, codec):
    # Long ASCII runs between other characters, so the encoders copy many words at once.
    text = ("housekeeping " * 3000 + ("\xe9" if codec != "ascii" else "~")) * 20
    encoded = getattr(telbit, f"encode_{encoding}")(text)
    assert encoded == text.encode(codec)
    assert getattr(telbit, f"decode_{encoding}")(encoded) == text
