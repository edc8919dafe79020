"""The README's Python snippets run and say what they claim, and its error texts are the ones raised."""

import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import pytest

import telbit
from functions import RESERVED

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"


@pytest.mark.skipif(not README.is_file(), reason="needs the source tree")
def test_readme_snippets_run():
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(), re.S)
    assert len(blocks) >= 2
    namespace = {}
    for block in blocks:
        exec(compile(block, str(README), "exec"), namespace)
    assert namespace["apid"] == 0x123 and namespace["sequence_count"] == 100 and namespace["data_length"] == 35


@pytest.mark.skipif(not README.is_file(), reason="needs the source tree")
def test_readme_typing_advice_runs_as_a_script_and_type_checks(tmp_path):
    # Annotations at a module's top level are evaluated when it runs, in a script as well.
    block, = [b for b in re.findall(r"```python\n(.*?)```", README.read_text(), re.S) if "TYPE_CHECKING" in b]
    script = tmp_path / "typed.py"
    script.write_text(block)
    env = dict(os.environ, PYTHONPATH=os.path.dirname(telbit.__file__))
    ran = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=120, env=env)
    assert ran.returncode == 0, ran.stderr
    if importlib.util.find_spec("mypy") is not None:
        result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"),
                                 str(script)], capture_output=True, text=True, timeout=600, cwd=tmp_path)
        assert result.returncode == 0, result.stdout


def entry(name="x", encoding="unsigned", bits=8, byte_order="big", **extra):
    return {"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order, "reverse_bits": False,
            **extra}


# (exception class, the message as the README writes it, a call that raises it, how it is raised):
# "plain" as it is, "argument" with the argument prefix, "wrapped" inside the recipe functions' ValueError.
# A second text fills the first one's {error}.
ERRORS = [
    (TypeError, ("{f}() takes {n} positional arguments but {m} {was} given",),
     lambda: telbit.decode_utf8(b"", b""), "plain"),
    (TypeError, ("{f}() takes from {min} to {max} positional arguments but {m} {was} given",),
     lambda: telbit.decode_packed_bcd(1, 8, True, 4), "plain"),
    (TypeError, ("{f}() got an unexpected keyword argument '{name}'",), lambda: telbit.decode_utf8(b"", x=1), "plain"),
    (TypeError, ("{f}() got multiple values for argument '{name}'",),
     lambda: telbit.decode_utf8(b"", bytes=b""), "plain"),
    (TypeError, ("{f}() missing {k} required positional {argument}: {list}",),
     lambda: telbit.unpack_parameters(), "plain"),
    (TypeError, ("'{type}' object cannot be cast as 'bytes'",), lambda: telbit.decode_utf8(bytearray()), "argument"),
    (TypeError, ("'{type}' object cannot be cast as 'str'",), lambda: telbit.encode_utf8(1), "argument"),
    (TypeError, ("'{type}' object cannot be cast as 'bool'",), lambda: telbit.decode_packed_bcd(1, 8, 1), "argument"),
    (TypeError, ("'{type}' object cannot be cast as 'dict'",), lambda: telbit.pack_parameters([], []), "argument"),
    (TypeError, ("'{type}' object cannot be cast as 'Sequence'",),
     lambda: telbit.unpack_parameters(b"", 0, {}), "argument"),
    (TypeError, ("Can't extract `str` to `Vec`",), lambda: telbit.unpack_parameters(b"", 0, "x"), "argument"),
    (OverflowError, ("out of range integral type conversion attempted",),
     lambda: telbit.decode_twos_complement(1, -1), "plain"),
    (TypeError, ("'{type}' object cannot be cast as 'dict'",),
     lambda: telbit.unpack_parameters(b"", 0, [[]]), "wrapped"),
    (KeyError, ("Recipe missing required field: '{field}'",),
     lambda: telbit.pack_parameters([{"name": "x"}], {}), "wrapped"),
    (KeyError, ("Missing value for parameter: '{name}'",), lambda: telbit.pack_parameters([entry()], {}), "wrapped"),
    (ValueError, ("Invalid byte_order '{byte_order}': must be 'big' or 'little'",),
     lambda: telbit.unpack_parameters(b"\0", 0, [entry(byte_order="le")]), "wrapped"),
    (ValueError, ("Unsupported encoding type: {encoding}",),
     lambda: telbit.pack_parameters([entry(encoding="ti_f32")], {"x": 1.0}), "wrapped"),
    (ValueError, ("Field '{name}' needs bytes {start} to {end} but the packet has {length} bytes",),
     lambda: telbit.unpack_parameters(b"abc", 0, [entry(bits=16, offset_bits=16)]), "wrapped"),
    (ValueError, ("Value {value} is too large for {bits} bits",),
     lambda: telbit.pack_parameters([entry()], {"x": 256}), "wrapped"),
    (MemoryError, ("cannot allocate a packet of {n} bytes",),
     lambda: telbit.pack_parameters([entry(offset_bits=2**63)], {"x": 1}), "wrapped"),
    (ValueError, ("bits must be <= 64 for two's complement encoding",),
     lambda: telbit.encode_twos_complement(1, 65), "plain"),
    (ValueError, ("Value {value} out of range for {bits} bits (range: {min} to {max})",),
     lambda: telbit.encode_twos_complement(128, 8), "plain"),
    (ValueError, ("bits must be <= 64 for ones' complement encoding",),
     lambda: telbit.encode_ones_complement(1, 65), "plain"),
    (ValueError, ("Value {value} is too large for {bits} bits",), lambda: telbit.encode_ones_complement(128, 8), "plain"),
    (ValueError, ("Value {value} is too large (magnitude) for {bits} bits",),
     lambda: telbit.encode_ones_complement(-128, 8), "plain"),
    (ValueError, ("bits must be between 2 and 64 for sign-magnitude encoding",),
     lambda: telbit.encode_sign_magnitude(0, 1), "plain"),
    (ValueError, ("Magnitude of {value} is too large for {bits} bits",),
     lambda: telbit.encode_sign_magnitude(128, 8), "plain"),
    (ValueError, ("Invalid BCD digit: {digit} (must be 0-9)",), lambda: telbit.decode_packed_bcd(0x1A, 8), "plain"),
    (ValueError, ("Invalid BCD sign nibble: expected 0xA-0xF for signed packed BCD",),
     lambda: telbit.decode_packed_bcd(0x1239, 16, True), "plain"),
    (ValueError, ("Invalid zoned decimal signed byte: 0x{byte} (expected 0x30-0x39, 0xC0-0xC9, 0xD0-0xD9, or 0xF0-0xF9)",),
     lambda: telbit.decode_unpacked_bcd(0xF1F2A3, 24, True), "plain"),
    (ValueError, ("Invalid zoned decimal byte: 0x{byte} (expected ASCII 0x30-0x39 or EBCDIC 0xF0-0xF9)",),
     lambda: telbit.decode_unpacked_bcd(0xC1F2C3, 24, True), "plain"),
    (ValueError, ("bits must be >= 4 for packed BCD",), lambda: telbit.encode_packed_bcd(-5, 3), "plain"),
    (ValueError, ("bits must be >= 8 for unpacked BCD",), lambda: telbit.encode_unpacked_bcd(5, 7), "plain"),
    (ValueError, ("bits must be <= 64 for signed unpacked BCD",),
     lambda: telbit.encode_unpacked_bcd(1, 72, True), "plain"),
    (ValueError, ("Cannot encode negative value in unsigned BCD",), lambda: telbit.encode_unpacked_bcd(-5, 8), "plain"),
    (ValueError, ("Cannot encode negative value in unsigned BCD",),
     lambda: telbit.pack_parameters([entry(encoding="unpacked_bcd")], {"x": -5}), "wrapped"),
    (ValueError, ("Value {value} has too many digits for {count} BCD digits",),
     lambda: telbit.encode_packed_bcd(10**17, 80), "plain"),
    (ValueError, ("IEEE 754 f128 requires a 128-bit field, got {bits} bits",),
     lambda: telbit.unpack_parameters(bytes(8), 0, [entry(encoding="ieee754_f128", bits=64)]), "wrapped"),
    (ValueError, ("IEEE 754 f128 requires special handling for >64 bits (not yet implemented in process_recipe)",),
     lambda: telbit.unpack_parameters(bytes(16), 0, [entry(encoding="ieee754_f128", bits=128)]), "wrapped"),
    (NotImplementedError, ("IEEE 754 f128 encoding not yet implemented",),
     lambda: telbit.encode_ieee754_f128(1.0), "plain"),
    (ValueError, ("Invalid UTF-8 bytes: {error}", "invalid utf-8 sequence of {length} bytes from index {index}"),
     lambda: telbit.decode_utf8(b"a\xff"), "plain"),
    (ValueError, ("Invalid UTF-8 bytes: {error}", "incomplete utf-8 byte sequence from index {index}"),
     lambda: telbit.decode_utf8(b"\xe2\x82"), "plain"),
    (ValueError, ("UTF-16 requires an even number of bytes with at least 2 bytes",),
     lambda: telbit.decode_utf16(b""), "plain"),
    (ValueError, ("UTF-16 requires an even number of bytes",), lambda: telbit.decode_utf16le(b"a"), "plain"),
    (ValueError, ("Invalid UTF-16 sequence: {error}", "invalid utf-16: lone surrogate found"),
     lambda: telbit.decode_utf16be(b"\xd8\x3d"), "plain"),
    (ValueError, ("UTF-32 requires a multiple of 4 bytes with at least 4 bytes",),
     lambda: telbit.decode_utf32(b""), "plain"),
    (ValueError, ("UTF-32 requires a multiple of 4 bytes",), lambda: telbit.decode_utf32le(b"a"), "plain"),
    (ValueError, ("Invalid UTF-32 codepoint: 0x{codepoint}",),
     lambda: telbit.decode_utf32be(b"\0\0\xd8\0"), "plain"),
    (ValueError, ("Invalid US-ASCII byte: 0x{byte} (must be <= 0x7F)",),
     lambda: telbit.decode_us_ascii(b"\x80"), "plain"),
    (ValueError, ("Character '{char}' (U+{code}) is not valid US-ASCII",),
     lambda: telbit.encode_us_ascii("\xe9"), "plain"),
    (ValueError, ("Character '{char}' (U+{code}) is not valid ISO-8859-1",),
     lambda: telbit.encode_iso_8859_1("\u0100"), "plain"),
    (ValueError, ("Failed to decode Windows-1252 bytes",),
     lambda: telbit.decode_windows_1252(b"\xef\xbb\xbf\xff"), "plain"),
    (ValueError, ("Failed to encode to Windows-1252",), lambda: telbit.encode_windows_1252("\x80"), "plain"),
]


def readme_text():
    """The README with line breaks inside paragraphs undone, as a reader sees it."""
    return " ".join(README.read_text().split())


def pattern(template):
    return "".join(".+?" if part.startswith("{") else re.escape(part) for part in re.split(r"(\{\w+\})", template))


@pytest.mark.skipif(not README.is_file(), reason="needs the source tree")
@pytest.mark.parametrize(("kind", "texts", "call", "form"), ERRORS, ids=[texts[-1][:40] for _, texts, _, _ in ERRORS])
def test_readme_documents_the_error_that_is_raised(kind, texts, call, form):
    readme = readme_text()
    for text in texts:
        assert f'"{text}"' in readme
    expected = pattern(texts[0].replace("{error}", texts[1]) if len(texts) == 2 else texts[0])
    with pytest.raises(ValueError if form == "wrapped" else kind) as raised:
        call()
    message = str(raised.value)
    if form == "argument":
        expected = r"argument '\w+': " + expected
    elif form == "wrapped":
        expected = f'{kind.__name__}: "{expected}"' if kind is KeyError else f"{kind.__name__}: {expected}"
    assert re.fullmatch(expected, message), message


@pytest.mark.skipif(not README.is_file(), reason="needs the source tree")
@pytest.mark.parametrize("name", [f"{way}_{name}" for way in ("decode", "encode") for name in RESERVED])
def test_readme_lists_each_reserved_format_message(name):
    with pytest.raises(NotImplementedError) as raised:
        getattr(telbit, name)(1)
    assert f'"{raised.value}"' in readme_text()
