"""Small builders shared by the tests."""


def field(name, encoding, bits, byte_order="big", reverse_bits=False, **extra):
    """One recipe entry."""
    entry = {"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order, "reverse_bits": reverse_bits}
    entry.update(extra)
    return entry


def text_recipe(encoding, bits, byte_order):
    """A text field "t" between the marker fields "a" and "b" (0xAA and 0x55 in expected_text_packet)."""
    # The markers are packed first, so a text that spilled out of its field would show.
    size = (bits + 7) // 8
    return [field("b", "unsigned", 8, offset_bits=8 + 8 * size), field("a", "unsigned", 8, offset_bits=0),
            field("t", encoding, bits, byte_order, offset_bits=8)]


def expected_text_packet(encoded, bits, byte_order):
    """Marker byte, the field's own ceil(bits / 8) bytes, marker byte: the text never spills."""
    size = (bits + 7) // 8
    body = encoded[::-1] if byte_order == "little" else encoded
    return b"\xaa" + body[:size].ljust(size, b"\x00") + b"\x55"


def wrapped(exc_type, text):
    """The message of a recipe walk error as the caller sees it."""
    return f"{exc_type.__name__}: {text}"


def run_python(script, *flags, timeout=120):
    """Run `script` in a fresh interpreter that imports this telbit; returns its stdout.

    For cases that may crash: a crash fails the test that asked instead of ending the run.
    """
    import os
    import subprocess
    import sys

    import telbit

    head = f"import sys; sys.path.insert(0, {os.path.dirname(telbit.__file__)!r})\n"
    result = subprocess.run([sys.executable, *flags, "-c", head + script], capture_output=True, text=True,
                            timeout=timeout)
    assert result.returncode == 0, result.stderr[-3000:]
    return result.stdout
