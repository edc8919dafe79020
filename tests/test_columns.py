"""telbit_columns: whole archives into columns, held to the per-packet walk."""

import array
import math
import mmap
import pickle

import numpy
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import telbit
import telbit_columns
from helpers import field
from leakcheck import assert_allocates_nothing_that_stays, swallow

unpack_columns = telbit_columns.unpack_columns

FIELDS = st.one_of(
    st.tuples(st.sampled_from(["unsigned", "twos_complement", "ones_complement", "sign_magnitude", "ieee754_f16",
                               "ieee754_f32", "ieee754_f64", "UNSIGNED"]), st.integers(0, 72)),
    st.tuples(st.sampled_from(["packed_bcd", "packed_bcd_signed", "unpacked_bcd", "unpacked_bcd_signed"]),
              st.integers(0, 72)),
    st.tuples(st.sampled_from(["utf8", "utf16", "utf16le", "utf32be", "us_ascii", "latin1", "windows_1252"]),
              st.integers(0, 48)),
    st.tuples(st.sampled_from(["ti_f32", "ieee754_f128", "unsinged"]), st.integers(0, 128)),
)
ENTRIES = st.builds(
    lambda name, kind, byte_order, reverse, offset: field(
        name, kind[0], kind[1], byte_order, reverse, **({} if offset is None else {"offset_bits": offset})),
    st.sampled_from(["a", "b", "c", "d"]), FIELDS, st.sampled_from(["big", "little", "BIG", "mid"]), st.booleans(),
    st.one_of(st.none(), st.integers(0, 96)))
RECIPES = st.lists(st.one_of(ENTRIES, ENTRIES, ENTRIES, st.just({"name": "a"}), st.just(7)), max_size=6)


def same(a, b):
    return a == b or (isinstance(a, float) and math.isnan(a) and math.isnan(b))


def outcome(call):
    try:
        return call(), None
    except ValueError as error:
        return None, error


def check_against_the_walk(data, packets, recipe, offset, columns_call):
    """Every packet's walk agrees with the columns: same values, or the first failing packet's error."""
    columns, error = outcome(columns_call)
    walks = [outcome(lambda p=p: telbit.unpack_parameters(p, offset, recipe)) for p in packets]
    if columns is not None:
        for index, (values, failure) in enumerate(walks):
            assert failure is None, (index, failure)
            assert list(values) == list(columns)
            assert all(same(columns[name][index], value) for name, value in values.items())
        assert all(len(column) == len(packets) for column in columns.values())
        return
    assert error.__cause__ is not None and str(error) == f"{type(error.__cause__).__name__}: {error.__cause__}"
    packet_notes = [note for note in error.__notes__ if note.startswith("packet ")]
    if not packet_notes:
        # An error of the recipe, before any packet: every packet's walk fails too.
        assert all(failure is not None for _, failure in walks)
        return
    index = int(packet_notes[0].split()[1].rstrip(","))
    assert all(failure is None for _, failure in walks[:index])
    failure = walks[index][1]
    assert failure is not None and str(failure) == str(error)
    assert failure.__notes__ == error.__notes__[:-1]


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(recipe=RECIPES, length=st.integers(1, 12), count=st.integers(0, 4), offset=st.integers(0, 24), data=st.data())
def test_fixed_length_packets_agree_with_the_walk(recipe, length, count, offset, data):
    archive = data.draw(st.binary(min_size=length * count, max_size=length * count))
    packets = [archive[i * length:(i + 1) * length] for i in range(count)]
    check_against_the_walk(archive, packets, recipe, offset, lambda: unpack_columns(archive, recipe, length, offset))


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(recipe=RECIPES, archive=st.binary(max_size=40), offset=st.integers(0, 24), data=st.data())
def test_packets_at_their_starts_agree_with_the_walk(recipe, archive, offset, data):
    starts = sorted(data.draw(st.lists(st.integers(0, len(archive)), max_size=4)))
    ends = starts[1:] + [len(archive)]
    packets = [archive[s:e] for s, e in zip(starts, ends)]
    check_against_the_walk(archive, packets, recipe, offset,
                           lambda: unpack_columns(archive, recipe, offset_bits=offset, starts=starts))


RECIPE = [field("count", "unsigned", 16), field("temp", "twos_complement", 16, "little"),
          field("volts", "ieee754_f32", 32), field("digits", "packed_bcd", 8), field("tag", "utf8", 16)]
PACKETS = [telbit.pack_parameters(RECIPE, {"count": i, "temp": -i, "volts": i / 4, "digits": i, "tag": f"p{i}"})
           for i in range(6)]
ARCHIVE = b"".join(PACKETS)
LENGTH = len(PACKETS[0])


def test_columns_are_typed_buffers_and_lists():
    columns = unpack_columns(ARCHIVE, RECIPE, LENGTH)
    assert [memoryview(columns[n]).format for n in ("count", "temp", "volts", "digits")] == ["Q", "q", "d", "q"]
    assert columns["tag"] == [f"p{i}" for i in range(6)]
    counts = columns["count"]
    view = numpy.asarray(counts)
    assert view.dtype == numpy.uint64 and numpy.shares_memory(view, numpy.asarray(counts))  # no copy
    assert counts.tolist() == list(counts) == list(range(6)) and counts[5] == 5 and len(counts) == 6
    with pytest.raises(IndexError):
        counts[6]
    assert pickle.loads(pickle.dumps(columns["temp"])) == array.array("q", [0, -1, -2, -3, -4, -5])
    assert list(unpack_columns(b"", RECIPE, LENGTH)) == [e["name"] for e in RECIPE]
    with pytest.raises(TypeError):
        type(counts)()  # only unpack_columns makes them: one without a kind has no buffer format


@pytest.mark.parametrize("make", [bytes, bytearray, memoryview, lambda b: numpy.frombuffer(b, numpy.uint8),
                                  lambda b: array.array("B", b)], ids=["bytes", "bytearray", "memoryview", "numpy", "array"])
def test_every_buffer_of_bytes(make):
    assert unpack_columns(make(ARCHIVE), RECIPE, LENGTH)["count"].tolist() == list(range(6))


def test_a_memory_mapped_file(tmp_path):
    path = tmp_path / "archive.bin"
    path.write_bytes(ARCHIVE)
    with path.open("rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        assert unpack_columns(mapped, RECIPE, LENGTH)["volts"].tolist() == [i / 4 for i in range(6)]


@pytest.mark.parametrize("call, error, message", [
    (lambda: unpack_columns(ARCHIVE, RECIPE, 0), ValueError, "packet_length must be at least 1, not 0"),
    (lambda: unpack_columns(ARCHIVE, RECIPE, LENGTH + 1), ValueError,
     f"data holds {len(ARCHIVE)} bytes, not a whole number of packets of {LENGTH + 1} bytes"),
    (lambda: unpack_columns(ARCHIVE, RECIPE), TypeError, "unpack_columns() needs packet_length or starts"),
    (lambda: unpack_columns(ARCHIVE, RECIPE, LENGTH, starts=[0]), TypeError,
     "unpack_columns() takes packet_length or starts, not both"),
    (lambda: unpack_columns(ARCHIVE, RECIPE, starts=[9, 3]), ValueError,
     "starts must be ascending: starts[1] = 3 is below starts[0] = 9"),
    (lambda: unpack_columns(ARCHIVE, RECIPE, starts=numpy.array([0, 99])), ValueError,
     f"starts[1] = 99 is past the end of data ({len(ARCHIVE)} bytes)"),
    (lambda: unpack_columns(ARCHIVE, RECIPE, starts=[0, -1]), ValueError, "starts[1] = -1 is negative"),
    (lambda: unpack_columns(ARCHIVE, RECIPE, starts=numpy.array([0, -1])), ValueError, "starts[1] = -1 is negative"),
    (lambda: unpack_columns(ARCHIVE, RECIPE, starts=numpy.arange(4)[::-1]), ValueError,
     "starts must be ascending: starts[1] = 2 is below starts[0] = 3"),
    (lambda: unpack_columns(numpy.zeros(4, numpy.int16), RECIPE, 1), TypeError,
     "argument 'data': a buffer of bytes is required, not of 2-byte items"),
    (lambda: unpack_columns("text", RECIPE, 1), TypeError, "argument 'data': 'str' object cannot be cast as 'buffer'"),
    (lambda: unpack_columns(ARCHIVE, "recipe", 1), TypeError, "argument 'recipe': Can't extract `str` to `Vec`"),
])
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


def test_the_first_failing_packet_is_reported_with_its_index():
    archive = bytearray(ARCHIVE)
    archive[4 * LENGTH + 8] = 0xAB  # packet 4's BCD byte; packet 2's text turns to ill-formed UTF-8 below
    archive[2 * LENGTH + 9] = 0xFF
    with pytest.raises(ValueError) as info:
        unpack_columns(archive, RECIPE, LENGTH)
    walk = pytest.raises(ValueError, telbit.unpack_parameters, bytes(archive[2 * LENGTH:3 * LENGTH]), 0, RECIPE)
    assert str(info.value) == str(walk.value)
    assert info.value.__notes__ == walk.value.__notes__ + [f"packet 2, bytes {2 * LENGTH} to {3 * LENGTH} of the data"]


def test_a_recipe_refused_for_every_packet_is_refused_without_packets():
    with pytest.raises(ValueError) as info:
        unpack_columns(b"", [field("x", "unsigned", 8), field("y", "unsigned", 64)], 4)
    assert str(info.value) == "ValueError: Field 'y' needs bytes 1 to 9 but the packet has 4 bytes"
    assert info.value.__notes__ == ["recipe entry 1 ('y')"]


def test_no_leaks_on_success_and_on_failure():
    bad = bytearray(ARCHIVE)
    bad[-1] = 0xFF
    calls = [lambda: unpack_columns(ARCHIVE, RECIPE, LENGTH), lambda: unpack_columns(bad, RECIPE, LENGTH),
             lambda: unpack_columns(ARCHIVE, RECIPE, starts=[0, LENGTH]),
             lambda: unpack_columns(ARCHIVE, [field("x", "ti_f32", 8)], LENGTH)]
    for call in calls * 50:  # what the first errors leave cached is not a leak
        swallow(call)
    assert_allocates_nothing_that_stays(calls, rounds=500)
