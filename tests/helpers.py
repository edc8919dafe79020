"""Small builders shared by the tests."""


def field(name, encoding, bits, byte_order="big", reverse_bits=False, **extra):
    """One recipe entry."""
    entry = {"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order, "reverse_bits": reverse_bits}
    entry.update(extra)
    return entry


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
