"""Huge widths, offsets, packets and recipes: linear work or a clear exception."""

import time

import pytest

import telbit
from helpers import field, wrapped

MAX_BITS = 2**32 - 1
MAX_BYTES = (MAX_BITS + 7) // 8  # 536870912


@pytest.mark.parametrize("encoding", ["unsigned", "utf8", "utf32", "packed_bcd", "ieee754_f64", "windows_1252"])
def test_widest_fields_past_a_small_packet(encoding):
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(b"\x00" * 16, 0, [field("x", encoding, MAX_BITS)])
    assert str(info.value) == wrapped(ValueError, f"Field 'x' needs bytes 0 to {MAX_BYTES} but the packet has 16 bytes")


@pytest.mark.parametrize("offset", [2**64 - 1, 2**64 - 8, 2**63, 2**61 * 8 - 1])
def test_offsets_near_the_top(offset):
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(b"\x00" * 4, offset, [field("x", "unsigned", 64)])
    start = offset // 8
    assert str(info.value) == wrapped(ValueError, f"Field 'x' needs bytes {start} to {start + 8} but the packet has 4 bytes")


def test_packet_that_cannot_be_allocated():
    with pytest.raises(ValueError) as info:
        telbit.pack_parameters([field("x", "unsigned", 8, offset_bits=2**64 - 2**32)], {"x": 1})
    assert str(info.value) == f"MemoryError: cannot allocate a packet of {(2**64 - 2**32 + 8) // 8} bytes"


def test_widest_numeric_and_text_fields_pack_within_their_bytes():
    packet = telbit.pack_parameters([field("x", "unsigned", MAX_BITS, "little", True)], {"x": 0x8000000000000001})
    assert len(packet) == MAX_BYTES
    # Mirrored across the whole width: bit 0 becomes the field's top bit (bit 6 of its first
    # byte, the width being one short of whole bytes) and bit 63 lands 64 bits below it; the
    # little-endian order then reverses the bytes.
    assert packet[-1] == 0x40 and packet[-9] == 0x80 and packet.count(0) == MAX_BYTES - 2
    del packet
    packet = telbit.pack_parameters([field("t", "utf8", MAX_BITS)], {"t": "abc"})
    assert packet[:4] == b"abc\x00" and len(packet) == MAX_BYTES
    del packet


def test_widest_unpack_reads_only_what_it_needs():
    packet = bytes(MAX_BYTES)
    assert telbit.unpack_parameters(packet, 0, [field("x", "unsigned", MAX_BITS)]) == {"x": 0}
    assert telbit.unpack_parameters(packet, 0, [field("x", "packed_bcd", MAX_BITS)]) == {"x": 0}
    with pytest.raises(ValueError) as info:
        telbit.unpack_parameters(packet, 0, [field("x", "unpacked_bcd_signed", MAX_BITS)])
    assert "Invalid zoned decimal signed byte: 0x00" in str(info.value)


def test_field_at_the_end_of_a_100_mb_packet():
    packet = bytearray(100 * 2**20)
    packet[-2:] = b"\x12\x34"
    packet = bytes(packet)
    recipe = [field("end", "unsigned", 16, offset_bits=8 * (len(packet) - 2))]
    for _ in range(1000):
        assert telbit.unpack_parameters(packet, 0, recipe) == {"end": 0x1234}


def test_recipe_of_a_million_entries():
    entry = field("x", "unsigned", 8)
    recipe = [entry] * 1_000_000
    packet = bytes(range(256)) * (1_000_000 // 256 + 1)
    assert telbit.unpack_parameters(packet, 0, recipe) == {"x": (1_000_000 - 1) % 256}
    values = {"x": 7}
    assert telbit.pack_parameters(recipe, values) == b"\x07" * 1_000_000
    # The first failure ends the walk at once, wherever it is.
    recipe[-1] = field("x", "nope", 8)
    with pytest.raises(ValueError):
        telbit.unpack_parameters(packet, 0, recipe)


def test_wide_bcd_and_integer_widths_are_constant_time():
    for bits in (65, 2**20, MAX_BITS):
        assert telbit.decode_packed_bcd(0x1234, bits) == 1234
        assert telbit.decode_unpacked_bcd(0x0102, bits) == 12
        assert telbit.encode_packed_bcd(1234, bits) == 0x1234
        assert telbit.decode_sign_magnitude(5, bits) == 5
        with pytest.raises(ValueError):
            telbit.encode_twos_complement(1, bits)


@pytest.mark.parametrize("encoding, byte_order, length", [
    ("utf8", "little", MAX_BYTES),  # the reversed copy of a whole 512 MiB field
    ("utf16le", "big", MAX_BYTES // 2),
])
def test_widest_text_fields_decode_whole(encoding, byte_order, length):
    packet = bytes(MAX_BYTES)
    result = telbit.unpack_parameters(packet, 0, [field("t", encoding, MAX_BITS, byte_order)])
    assert len(result["t"]) == length and result["t"].count("\x00") == length


def test_extents_that_wrap_size_the_packet_by_their_wrapped_end():
    # The end of a field at 2^64 - 8 wraps to bit 8: the packet is one byte, and the field's
    # own bytes, far beyond it, are dropped.
    assert telbit.pack_parameters([field("x", "unsigned", 16, offset_bits=2**64 - 8)], {"x": 0xFFFF}) == b"\x00"
    recipe = [field("x", "unsigned", 8, offset_bits=2**64 - 8), field("y", "unsigned", 8)]
    # "y" follows "x" at the wrapped position 0 in both passes.
    assert telbit.pack_parameters(recipe, {"x": 1, "y": 2}) == b"\x02"
    assert telbit.unpack_parameters(b"\x02", 8, [field("y", "unsigned", 8, offset_bits=2**64 - 8)]) == {"y": 2}


def best_time(call, rounds=3):
    # Processor time of this process, not the wall clock: CI runs other jobs beside the suite,
    # and the time this process spends waiting for a core says nothing about the walk.
    best = float("inf")
    for _ in range(rounds):
        start = time.process_time()
        call()
        best = min(best, time.process_time() - start)
    return best


def recipe_of(count, kind):
    # A thousand distinct entries, repeated: the entries stay in the processor's caches, so
    # the time per entry does not depend on the count. Consecutive entries hold different
    # name objects; with "fresh encoding", different encoding objects that each need
    # str.lower() (a Kelvin sign lower-cases to "k"), and with "crowded", keys besides the
    # six, so that nothing a walk remembers from one entry helps with the next.
    encoding = (lambda: "".join(["unpac", "\u212a", "ed_bcd"])) if kind == "fresh encoding" else (lambda: "UNSIGNED")
    extra = {"note": 1, "unit": "V", "limits": None} if kind == "crowded" else {}
    return [field(f"name{i}", encoding(), 8, **extra) for i in range(1000)] * (count // 1000)


@pytest.mark.parametrize("kind", ["plain", "fresh encoding", "crowded"])
def test_walks_grow_linearly_with_the_recipe(kind):
    packet = bytes(200_000)
    # As many values as entries, in another order and under other str objects than the
    # recipe's names: each is found by a lookup in a dict that grows with the recipe.
    values = {count: {f"name{i}": 0 for i in reversed(range(count))} for count in (12_000, 192_000)}
    for walk in (lambda recipe, count: telbit.unpack_parameters(packet, 0, recipe),
                 lambda recipe, count: telbit.pack_parameters(recipe, values[count])):
        small, large = recipe_of(12_000, kind), recipe_of(192_000, kind)
        ratio = best_time(lambda: walk(large, 192_000)) / best_time(lambda: walk(small, 12_000))
        # Sixteen times the entries: about sixteen times the time (up to a few times that as the
        # packet and the recipe outgrow the caches), never the 256 of a quadratic walk.
        assert ratio < 64, ratio


@pytest.mark.parametrize("walk", ["unpack", "pack"])
def test_a_field_costs_the_same_whatever_else_its_entry_holds(walk):
    # Only six keys are read: an entry with 100,000 others must not cost a pass over them all.
    def recipe(ignored):
        entry = field("x", "unsigned", 8, offset_bits=0)
        entry.update((f"note_{k}", k) for k in range(ignored))
        return [entry] * 200

    packet, values = bytes(1), {"x": 1}
    call = ((lambda r: telbit.unpack_parameters(packet, 0, r)) if walk == "unpack"
            else (lambda r: telbit.pack_parameters(r, values)))
    plain, crowded = recipe(0), recipe(100_000)
    ratio = best_time(lambda: [call(crowded) for _ in range(20)], 5) / best_time(lambda: [call(plain) for _ in range(20)], 5)
    # Six lookups instead of a pass over six items: a few times as much, not ten thousand.
    assert ratio < 10, ratio
