"""Small builders shared by the tests."""


def field(name, encoding, bits, byte_order="big", reverse_bits=False, **extra):
    """One recipe entry."""
    entry = {"name": name, "encoding": encoding, "bits": bits, "byte_order": byte_order, "reverse_bits": reverse_bits}
    entry.update(extra)
    return entry


def wrapped(exc_type, text):
    """The message of a recipe walk error as the caller sees it."""
    return f"{exc_type.__name__}: {text}"
