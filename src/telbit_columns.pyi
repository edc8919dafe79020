"""Type information for telbit_columns: whole archives of packets into columns, through telbit's recipes."""

from array import array
from collections.abc import Sequence
from typing import SupportsIndex

from typing_extensions import Buffer

from telbit import RecipeEntry

# A column: 64-bit integers (format "Q" for "unsigned", "q" for the signed and decimal
# encodings), floats (format "d"), or the texts of a text encoding.
Column = array[int] | array[float] | list[str]

def unpack_columns(
    data: Buffer,
    recipe: Sequence[RecipeEntry],
    packet_length: SupportsIndex | None = None,
    offset_bits: SupportsIndex = 0,
    *,
    starts: Sequence[SupportsIndex] | Buffer | None = None,
) -> dict[str, Column]: ...
