"""Whole archives into columns: telbit_columns beside a loop of unpack_parameters, never run as a test.

    python bench/columns.py [--packets 200000] [--rounds 5] [--memory]

For each workload (workloads.py) an archive of --packets packets is built with pack_parameters.
It is decoded by unpack_columns and by a loop of unpack_parameters that appends each value to
its column's list (the fast way to use the per-packet walk), checked equal, then timed, best of
--rounds. Then two threads each decode one half of the archive, beside one thread on the whole.
--memory decodes a 1 GB archive of 8-byte packets and reports the resident set before and after.
"""

import argparse
import os
import resource
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import telbit  # noqa: E402
import telbit_columns  # noqa: E402
from workloads import all_workloads, entry  # noqa: E402


def best_of(rounds, call):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


def loop_of_walks(data, length, recipe):
    columns = {e["name"]: [] for e in recipe}
    appends = [(e["name"], columns[e["name"]].append) for e in recipe]
    for index in range(len(data) // length):
        values = telbit.unpack_parameters(data, 8 * length * index, recipe)
        for name, append in appends:
            append(values[name])
    return columns


def in_two_threads(data, length, recipe):
    half = len(data) // length // 2 * length
    parts = [memoryview(data)[:half], memoryview(data)[half:]]
    threads = [threading.Thread(target=telbit_columns.unpack_columns, args=(part, recipe, length)) for part in parts]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def speed(packets, rounds):
    print(f"{packets} packets per archive, best of {rounds}; Python {sys.version.split()[0]}, {os.cpu_count()} cores")
    print(f"  {'workload':<13} {'fields':>6} {'columns ns/field':>17} {'numeric only':>13} {'loop ns/field':>14} "
          f"{'loop/columns':>13} {'2 threads/1':>12}")
    for workload in all_workloads():
        length = len(workload.packet)
        data = workload.packet * packets
        recipe = workload.recipe
        columns = telbit_columns.unpack_columns(data, recipe, length)
        assert {k: list(v) for k, v in columns.items()} == loop_of_walks(data, length, recipe)
        fields = packets * len(recipe)
        # The same fields without the text ones, whose str objects cost what any str costs.
        numeric = [e for e in recipe if not e["encoding"].startswith("utf")]
        numbers = best_of(rounds, lambda: telbit_columns.unpack_columns(data, numeric, length))
        one = best_of(rounds, lambda: telbit_columns.unpack_columns(data, recipe, length))
        loop = best_of(max(1, rounds // 2), lambda: loop_of_walks(data, length, recipe))
        two = best_of(rounds, lambda: in_two_threads(data, length, recipe))
        print(f"  {workload.name:<13} {len(recipe):>6} {one / fields * 1e9:>17.2f} "
              f"{numbers / (packets * len(numeric)) * 1e9:>13.2f} {loop / fields * 1e9:>14.1f} {loop / one:>12.1f}x "
              f"{two / one:>12.2f}")


def memory():
    recipe = [entry("counter", "unsigned", 32), entry("level", "twos_complement", 16), entry("flags", "unsigned", 16)]
    length, count = 8, (1 << 30) // 8
    data = bytes(length * count)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    start = time.perf_counter()
    columns = telbit_columns.unpack_columns(data, recipe, length)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    sizes = sum(len(column) * column.itemsize for column in columns.values())
    print(f"1 GiB archive, {count} packets of 3 fields: {elapsed:.2f} s, peak resident set "
          f"{before / 1024:.0f} MiB before, {after / 1024:.0f} MiB after; the columns hold {sizes / 2**20:.0f} MiB")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--packets", type=int, default=200_000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--memory", action="store_true")
    args = parser.parse_args()
    speed(args.packets, args.rounds)
    if args.memory:
        memory()


if __name__ == "__main__":
    main()
