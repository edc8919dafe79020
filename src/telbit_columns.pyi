"""Type information for telbit_columns: whole archives of packets into columns, through telbit's recipes."""

from collections.abc import Iterator, Sequence
from typing import Any, SupportsIndex, final

from typing_extensions import Buffer

from telbit import RecipeEntry

@final
class Column:
    """A column of 64-bit numbers: a sequence, and a buffer of format 'Q', 'q' or 'd'."""

    @property
    def typecode(self) -> str: ...
    @property
    def itemsize(self) -> int: ...
    def __len__(self) -> int: ...
    def __getitem__(self, index: SupportsIndex, /) -> int | float: ...
    def __iter__(self) -> Iterator[int | float]: ...
    def tolist(self) -> list[int] | list[float]: ...
    def __array__(self, dtype: Any = None, copy: bool | None = None) -> Any: ...

def unpack_columns(
    data: Buffer,
    recipe: Sequence[RecipeEntry],
    packet_length: SupportsIndex | None = None,
    offset_bits: SupportsIndex = 0,
    *,
    starts: Sequence[SupportsIndex] | Buffer | None = None,
) -> dict[str, Column | list[str]]: ...
