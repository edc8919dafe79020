"""Many threads calling every function on shared recipes and packets get the results one
thread gets."""

import sys
import textwrap
import threading
import time

import telbit
from functions import CALLS, PACKET, RECIPE, VALUES
from helpers import run_python
from hostile import Index


def outcome(call):
    try:
        return ("ok", call())
    except Exception as error:  # every function's error is part of its result here
        return (type(error).__name__, str(error))


def test_concurrent_calls_match_a_single_thread():
    expected = [outcome(call) for call in CALLS]
    mismatches = []
    barrier = threading.Barrier(8)

    def worker(seed):
        barrier.wait()
        for round_number in range(150):
            for index in range((seed + round_number) % len(CALLS), len(CALLS)):
                got = outcome(CALLS[index])
                if got != expected[index]:
                    mismatches.append((CALLS[index].label, got, expected[index]))

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
