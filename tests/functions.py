"""The module's 62 functions, each described once: its parameters, and calls it answers or refuses.

Every parameter converts its argument by one of a few rules, and each rule comes with arguments
it refuses; every function comes with the binding errors of its signature. The surface tests
check each call's outcome, the leak checks run every call over and over, the thread tests run
them all at once.
"""

import telbit
from helpers import field, wrapped
from hostile import Index, Real, raiser

# Fields of most kinds of encoding, in both byte orders, mirrored or not and placed or not, and their packet.
RECIPE = [
    field("a", "unsigned", 12), field("b", "twos_complement", 16, "little", offset_bits=16),
    field("c", "utf16be", 32), field("d", "packed_bcd_signed", 16), field("e", "ieee754_f16", 16, reverse_bits=True),
    field("f", "windows_1252", 24), field("g", "ieee754_f64", 64), field("h", "utf8", 16, "little"),
    field("i", "ieee754_f32", 32, "little", True),
]
VALUES = {"a": 0xABC, "b": -12345, "c": "hi", "d": -321, "e": 1.5, "f": "\u20ac\xe9A", "g": -2.25, "h": "ok", "i": 1.5}
PACKET = bytes.fromhex("0abcc7cf00680069321d007c80e941c0020000000000006b6ffc030000")

# What each conversion rule refuses: (argument, exception, message or None where the interpreter
# words it). An argument's TypeError names the parameter first.
U64 = [(-1, OverflowError, "can't convert negative int to unsigned"), (2**64, OverflowError, None),
       (1.5, TypeError, "'float' object cannot be interpreted as an integer"),
       ("1", TypeError, "'str' object cannot be interpreted as an integer")]
U128 = [(-1, OverflowError, "can't convert negative int to unsigned"), (2**128, OverflowError, None),
        (1.0, TypeError, "'float' object cannot be interpreted as an integer")]
U32 = [(-1, OverflowError, "out of range integral type conversion attempted"),
       (2**32, OverflowError, "out of range integral type conversion attempted"), (2**63, OverflowError, None),
       (8.0, TypeError, "'float' object cannot be interpreted as an integer")]
I64 = [(2**63, OverflowError, None), (1.5, TypeError, "'float' object cannot be interpreted as an integer")]
REAL = [("x", TypeError, "must be real number, not str"), (None, TypeError, "must be real number, not NoneType")]
FLAG = [(1, TypeError, "'int' object cannot be cast as 'bool'"),
        (None, TypeError, "'NoneType' object cannot be cast as 'bool'")]
BYTES = [(bytearray(b"x"), TypeError, "'bytearray' object cannot be cast as 'bytes'"),
         (memoryview(b"x"), TypeError, "'memoryview' object cannot be cast as 'bytes'")]
TEXT = [(b"x", TypeError, "'bytes' object cannot be cast as 'str'")]
SEQUENCE = [("abc", TypeError, "Can't extract `str` to `Vec`"),
            ({}, TypeError, "'dict' object cannot be cast as 'Sequence'"),
            ({1, 2}, TypeError, "'set' object cannot be cast as 'Sequence'"),
            ((x for x in []), TypeError, "'generator' object cannot be cast as 'Sequence'")]
DICT = [([], TypeError, "'list' object cannot be cast as 'dict'")]

# Test ids name these shared samples rather than spell them out.
SHOWN = {id(RECIPE): "RECIPE", id(VALUES): "VALUES", id(PACKET): "PACKET"}


def shown(value):
    text = SHOWN.get(id(value), repr(value))
    return type(value).__name__ if " at 0x" in text else text


class Call:
    """One call, and the result it gives or the exception and message it raises."""

    def __init__(self, name, args, kwargs=None, result=None, raises=None, message=None, label=None):
        self.name, self.args, self.kwargs = name, tuple(args), kwargs or {}
        self.result, self.raises, self.message = result, raises, message
        shown_args = [shown(a) for a in self.args] + [f"{k}={shown(v)}" for k, v in self.kwargs.items()]
        self.label = f"{name}({label or ', '.join(shown_args)})"

    def __call__(self):
        return getattr(telbit, self.name)(*self.args, **self.kwargs)

    def outcome_with(self, args, kwargs, label):
        """The same outcome from other arguments."""
        return Call(self.name, args, kwargs, self.result, self.raises, self.message, label)


def ok(*args, gives, label=None):
    return dict(args=args, result=gives, label=label)


def no(*args, raises, message, label=None):
    return dict(args=args, raises=raises, message=message, label=label)


class Function:
    """A function's parameters as (name, rule) or (name, rule, default), and calls of it; the first
    call passes every parameter and is the one the conversion and binding calls vary."""

    def __init__(self, name, parameters, *calls):
        self.name = name
        self.parameters = [p[0] for p in parameters]
        defaults = {p[0]: p[2] for p in parameters if len(p) == 3}
        self.signature = ", ".join(f"{p}={defaults[p]!r}" if p in defaults else p for p in self.parameters)
        self.required = len(parameters) - len(defaults)
        self.calls = [Call(name, **call) for call in calls]
        base = self.calls[0]
        assert len(base.args) == len(parameters), name
        for index, (parameter, rule, *_) in enumerate(parameters):
            for value, exc_type, message in rule:
                if exc_type is TypeError:
                    message = f"argument '{parameter}': {message}"
                args = base.args[:index] + (value,) + base.args[index + 1:]
                self.calls.append(Call(name, args, raises=exc_type, message=message,
                                       label=f"{parameter} as {shown(value)}"))
        self.calls += self.binding_calls(base)

    def binding_calls(self, base):
        count, required, first = len(self.parameters), self.required, self.parameters[0]
        given = count + 1
        takes = f"from {required} to {count}" if required < count else f"{count}"
        return [
            Call(self.name, base.args + (0,), raises=TypeError, label="too many arguments",
                 message=f"{self.name}() takes {takes} positional arguments but {given} were given"),
            Call(self.name, base.args[:required], {"nope": 1}, raises=TypeError,
                 message=f"{self.name}() got an unexpected keyword argument 'nope'"),
            Call(self.name, base.args[:required], {first: base.args[0]}, raises=TypeError,
                 message=f"{self.name}() got multiple values for argument '{first}'"),
            base.outcome_with((), dict(zip(self.parameters, base.args)), "every argument by keyword"),
        ]


# The formats that only have names yet, with the label their messages give them.
RESERVED = {
    "ieee754_1985_f32": "IEEE 754-1985 f32", "ieee754_1985_f64": "IEEE 754-1985 f64",
    "ieee754_1985_f80": "IEEE 754-1985 f80", "mil_std_1750a_f32": "MIL-STD-1750A f32",
    "mil_std_1750a_f48": "MIL-STD-1750A f48", "dec_f32": "DEC f32", "dec_f64": "DEC f64", "ibm_f32": "IBM f32",
    "ibm_f64": "IBM f64", "ti_f32": "TI f32", "ti_f40": "TI f40",
}

EVERY_CHARACTER_LENGTH = "A\xe9\u20ac\U0001F600"
LONE_UTF16 = "Invalid UTF-16 sequence: invalid utf-16: lone surrogate found"
SURROGATE = "'utf-8' codec can't encode character '\\ud800' in position 0: surrogates not allowed"
# Per text encoding: a text and its bytes, then bytes and a text it refuses with the reason.
TEXTS = {
    "us_ascii": ("AB", b"AB", b"A\xe9", "Invalid US-ASCII byte: 0xE9 (must be <= 0x7F)",
                 "A\xe9", "Character '\xe9' (U+00E9) is not valid US-ASCII"),
    "iso_8859_1": ("A\xe9", b"A\xe9", None, None, "\u20ac", "Character '\u20ac' (U+20AC) is not valid ISO-8859-1"),
    "windows_1252": ("A\u20ac\xe9", b"A\x80\xe9", b"\xef\xbb\xbf\xff", "Failed to decode Windows-1252 bytes",
                     "\u0100", "Failed to encode to Windows-1252"),
    "utf8": (EVERY_CHARACTER_LENGTH, EVERY_CHARACTER_LENGTH.encode(), b"a\xff",
             "Invalid UTF-8 bytes: invalid utf-8 sequence of 1 bytes from index 1", None, None),
    "utf16": (EVERY_CHARACTER_LENGTH, b"\xfe\xff" + EVERY_CHARACTER_LENGTH.encode("utf-16-be"), b"",
              "UTF-16 requires an even number of bytes with at least 2 bytes", None, None),
    "utf16le": (EVERY_CHARACTER_LENGTH, EVERY_CHARACTER_LENGTH.encode("utf-16-le"), b"\x3d\xd8", LONE_UTF16,
                None, None),
    "utf16be": (EVERY_CHARACTER_LENGTH, EVERY_CHARACTER_LENGTH.encode("utf-16-be"), b"a",
                "UTF-16 requires an even number of bytes", None, None),
    "utf32": (EVERY_CHARACTER_LENGTH, b"\x00\x00\xfe\xff" + EVERY_CHARACTER_LENGTH.encode("utf-32-be"), b"",
              "UTF-32 requires a multiple of 4 bytes with at least 4 bytes", None, None),
    "utf32le": (EVERY_CHARACTER_LENGTH, EVERY_CHARACTER_LENGTH.encode("utf-32-le"), b"\x00\xd8\x00\x00",
                "Invalid UTF-32 codepoint: 0x0000D800", None, None),
    "utf32be": (EVERY_CHARACTER_LENGTH, EVERY_CHARACTER_LENGTH.encode("utf-32-be"), b"\x00\x00\x00A\x00",
                "UTF-32 requires a multiple of 4 bytes", None, None),
}

INTEGER = [("value", U64), ("bits", U32)]
SIGNED_INTEGER = [("value", I64), ("bits", U32)]
BCD = [("value", U64), ("bits", U32), ("signed", FLAG, False)]
SIGNED_BCD = [("value", I64), ("bits", U32), ("signed", FLAG, False)]

FUNCTIONS = [
    Function(
        "unpack_parameters", [("packet_bytes", BYTES), ("offset_bits", U64), ("recipe", SEQUENCE)],
        ok(PACKET, 0, RECIPE, gives=VALUES),
        ok(PACKET, 0, tuple(RECIPE), gives=VALUES, label="PACKET, 0, tuple(RECIPE)"),
        ok(b"", 2**64 - 1, (), gives={}),
        no(PACKET, 0, RECIPE + [field("x", "nope", 8, offset_bits=0)], label="unknown encoding",
           raises=ValueError, message=wrapped(ValueError, "Unsupported encoding type: nope")),
        no(b"\x00", 0, RECIPE, label="packet too short", raises=ValueError,
           message=wrapped(ValueError, "Field 'a' needs bytes 0 to 2 but the packet has 1 bytes")),
        no(PACKET, 0, [{"name": "x"}], label="missing key", raises=ValueError,
           message=wrapped(KeyError, repr("Recipe missing required field: 'encoding'"))),
        no(PACKET, 0, [field("x", "unsigned", Index(0, raiser(RuntimeError, "boom")))], label="raising width",
           raises=ValueError, message="RuntimeError: boom"),
        no(PACKET, 0, [field("x", "ti_f32", 8)], label="reserved encoding", raises=ValueError,
           message=wrapped(NotImplementedError, "TI f32 format not yet implemented")),
    ),
    Function(
        "pack_parameters", [("recipe", SEQUENCE), ("values", DICT)],
        ok(RECIPE, VALUES, gives=PACKET),
        ok([], {}, gives=b""),
        no(RECIPE, {"a": 1}, label="RECIPE, missing value", raises=ValueError,
           message=wrapped(KeyError, repr("Missing value for parameter: 'b'"))),
        no(RECIPE, dict(VALUES, b=10**6), label="RECIPE, value out of range", raises=ValueError,
           message=wrapped(ValueError, "Value 1000000 out of range for 16 bits (range: -32768 to 32767)")),
        no(RECIPE, dict(VALUES, c="\ud800"), label="RECIPE, lone surrogate", raises=ValueError,
           message=wrapped(UnicodeEncodeError, SURROGATE)),
        no([field("a", "unsigned", 8, offset_bits=2**63)], {"a": 1}, label="packet too large", raises=ValueError,
           message=wrapped(MemoryError, f"cannot allocate a packet of {2**60 + 1} bytes")),
    ),
    Function("decode_ones_complement", INTEGER, ok(200, Index(8), gives=-55)),
    Function("decode_twos_complement", INTEGER, ok(200, Index(8), gives=-56), ok(True, 8, gives=1),
             ok(Index(255), Index(8), gives=-1), ok(2**64 - 1, 64, gives=-1)),
    Function("decode_sign_magnitude", INTEGER, ok(200, Index(8), gives=-72)),
    Function("decode_unpacked_bcd", BCD, ok(0x010203, 24, False, gives=123), ok(0xF1F2D3, 24, True, gives=-123),
             ok(0x010203, 24, gives=123),
             no(0x0A0102, 24, False, raises=ValueError, message="Invalid BCD digit: 10 (must be 0-9)")),
    Function("decode_packed_bcd", BCD, ok(0x1234, 16, False, gives=1234), ok(0x123D, 16, True, gives=-123),
             ok(0x1234, 16, gives=1234),
             no(0x12AF, 16, True, raises=ValueError, message="Invalid BCD digit: 10 (must be 0-9)")),
    Function("decode_ieee754_f16", [("value", U64)], ok(0xC000, gives=-2.0)),
    Function("decode_ieee754_f32", [("value", U64)], ok(0x3FC00000, gives=1.5)),
    Function("decode_ieee754_f64", [("value", U64)], ok(0x3FF0000000000000, gives=1.0)),
    Function("decode_ieee754_f128", [("value", U128)], ok(Index(0x3FFF << 112), gives=1.0),
             ok(0xC000 << 112, gives=-2.0)),
    *[Function(f"decode_{name}", [("_value", U64)],
               no(1, raises=NotImplementedError, message=f"{label} format not yet implemented"))
      for name, label in RESERVED.items()],
    *[Function(f"decode_{name}", [("bytes", BYTES)], ok(data, gives=text),
               *([no(bad, raises=ValueError, message=why)] if bad is not None else []))
      for name, (text, data, bad, why, _, _) in TEXTS.items()],
    Function("encode_ones_complement", SIGNED_INTEGER, ok(-100, Index(8), gives=155),
             no(500, 4, raises=ValueError, message="Value 500 is too large for 4 bits")),
    Function("encode_twos_complement", SIGNED_INTEGER, ok(-100, Index(8), gives=156), ok(-2**63, 64, gives=2**63),
             no(500, 4, raises=ValueError, message="Value 500 out of range for 4 bits (range: -8 to 7)")),
    Function("encode_sign_magnitude", SIGNED_INTEGER, ok(-100, Index(8), gives=228),
             no(500, 4, raises=ValueError, message="Magnitude of 500 is too large for 4 bits")),
    Function("encode_unpacked_bcd", SIGNED_BCD, ok(123, 24, False, gives=0x010203), ok(-123, 24, True, gives=0xF1F2D3),
             no(12345, 8, False, raises=ValueError, message="Value 12345 has too many digits for 1 BCD digits")),
    Function("encode_packed_bcd", SIGNED_BCD, ok(1234, 16, False, gives=0x1234), ok(-123, 16, True, gives=0x123D),
             no(12345, 8, False, raises=ValueError, message="Value 12345 has too many digits for 2 BCD digits")),
    Function("encode_ieee754_f16", [("value", REAL)], ok(1.5, gives=0x3E00)),
    Function("encode_ieee754_f32", [("value", REAL)], ok(1.5, gives=0x3FC00000), ok(1, gives=0x3F800000)),
    Function("encode_ieee754_f64", [("value", REAL)], ok(-2.0, gives=0xC000000000000000),
             ok(Real(2.5), gives=0x4004000000000000), ok(Index(1), gives=0x3FF0000000000000),
             no(10**400, raises=OverflowError, message="int too large to convert to float", label="10**400")),
    Function("encode_ieee754_f128", [("_value", REAL)],
             no(1.0, raises=NotImplementedError, message="IEEE 754 f128 encoding not yet implemented")),
    *[Function(f"encode_{name}", [("_value", REAL)],
               no(1.5, raises=NotImplementedError, message=f"{label} encoding not yet implemented"))
      for name, label in RESERVED.items()],
    *[Function(f"encode_{name}", [("text", TEXT)], ok(text, gives=data),
               *([no(bad, raises=ValueError, message=why)] if bad is not None else []),
               no("\ud800", raises=UnicodeEncodeError, message=SURROGATE))
      for name, (text, data, _, _, bad, why) in TEXTS.items()],
]
NAMES = [function.name for function in FUNCTIONS]
CALLS = [call for function in FUNCTIONS for call in function.calls]
assert len({call.label for call in CALLS}) == len(CALLS)

# The encodings a recipe names: each decoder's, and the names only recipes know.
RECIPE_ENCODINGS = [name[len("decode_"):] for name in NAMES if name.startswith("decode_")] + [
    "unsigned", "latin1", "packed_bcd_signed", "unpacked_bcd_signed"]
