"""Many threads calling every function on shared recipes and packets get the results one
thread gets."""

import sys
import textwrap
import threading
import time

import telbit
from helpers import field, run_python
from hostile import Index

RECIPE = [
    field("a", "unsigned", 12), field("b", "twos_complement", 16, "little", offset_bits=16),
    field("c", "utf16be", 32), field("d", "packed_bcd_signed", 16), field("e", "ieee754_f16", 16, reverse_bits=True),
    field("f", "windows_1252", 24), field("g", "ieee754_f64", 64),
]
VALUES = {"a": 0xABC, "b": -12345, "c": "hi", "d": -321, "e": 1.5, "f": "\u20ac\xe9A", "g": -2.25}
PACKET = telbit.pack_parameters(RECIPE, VALUES)

SAMPLES = {
    "unpack_parameters": (PACKET, 0, RECIPE),
    "pack_parameters": (RECIPE, VALUES),
}


def sample_args(name):
    if name in SAMPLES:
        return SAMPLES[name]
    if name.startswith("decode_") and ("utf" in name or name.endswith(("ascii", "8859_1", "1252"))):
        return (b"\xfe\xff\x00A\x00\xe9",)
    if name.startswith("encode_") and ("utf" in name or name.endswith(("ascii", "8859_1", "1252"))):
        return ("A\xe9",)
    if name.endswith("_bcd"):
        return (0x1234, 16, False)
    if "complement" in name or "magnitude" in name:
        return (100, 16)
    return (0x3C00,)


def outcome(function, args):
    try:
        return ("ok", function(*args))
    except Exception as error:  # every function's error is part of its result here
        return (type(error).__name__, str(error))


def test_concurrent_calls_match_a_single_thread():
    calls = [(getattr(telbit, name), sample_args(name)) for name in telbit.__all__]
    expected = [outcome(function, args) for function, args in calls]
    mismatches = []
    barrier = threading.Barrier(8)

    def worker(seed):
        barrier.wait()
        for round_number in range(150):
            for index in range((seed + round_number) % len(calls), len(calls)):
                function, args = calls[index]
                got = outcome(function, args)
                if got != expected[index] and not (got[0] == "ok" and got[1] != got[1]):
                    mismatches.append((telbit.__all__[index], got, expected[index]))

    threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert mismatches == []


def test_first_use_from_many_threads_at_once():
    # The abstract Sequence type is looked up on first use; a fresh interpreter makes every
    # thread race for that first use.
    script = textwrap.dedent("""
        import threading, collections
        import telbit
        class Recipe(collections.UserList):
            pass
        entry = {"name": "x", "encoding": "unsigned", "bits": 8, "byte_order": "big", "reverse_bits": False}
        results, barrier = [], threading.Barrier(16)
        def worker():
            barrier.wait()
            results.append(telbit.unpack_parameters(b"\\x07", 0, Recipe([entry])))
        threads = [threading.Thread(target=worker) for _ in range(16)]
        [t.start() for t in threads]
        [t.join() for t in threads]
        assert results == [{"x": 7}] * 16, results
        print("ok")
    """)
    assert run_python(script, timeout=60).strip() == "ok"


def test_threads_switching_in_the_middle_of_walks():
    recipe = [dict(entry) for entry in RECIPE]
    for entry in recipe:
        # A width read through Python code that gives the interpreter lock away, so that other
        # threads run in the middle of a walk.
        entry["bits"] = Index(entry["bits"], lambda: time.sleep(0))
        entry["name"] = "".join(["par", "am_", entry["name"]])  # names that are not interned
    values = {entry["name"]: VALUES[name] for entry, name in zip(recipe, VALUES)}
    recipe_tuple = tuple(recipe)
    expected_packet = telbit.pack_parameters(recipe, values)
    expected_values = telbit.unpack_parameters(expected_packet, 0, recipe_tuple)
    assert expected_packet == PACKET
    failures = []
    barrier = threading.Barrier(6)

    def worker(seed):
        barrier.wait()
        for i in range(60):
            if (seed + i) % 3 == 0:
                got = telbit.pack_parameters(recipe, values)
                if got != expected_packet:
                    failures.append(got)
            elif (seed + i) % 3 == 1:
                got = telbit.unpack_parameters(expected_packet, 0, recipe_tuple)
                if got != expected_values:
                    failures.append(got)
            else:
                try:
                    telbit.unpack_parameters(expected_packet[:5], 0, recipe)
                except ValueError as error:
                    if not str(error).startswith("ValueError: Field 'param_c' needs bytes 4 to 8"):
                        failures.append(str(error))

    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        threads = [threading.Thread(target=worker, args=(seed,)) for seed in range(6)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(old_interval)
    assert failures == []
