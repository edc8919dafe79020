"""Memory over many calls, on success and on error paths.

    python bench/memory.py [--calls N]

Reports the resident set size and the interpreter's allocated block count before and after
N calls of each path (1,000,000 by default); a leak of even one object per call would show
as N blocks.
"""

import argparse
import gc
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import telbit  # noqa: E402
from workloads import entry, mixed  # noqa: E402


def resident_kib():
    with open("/proc/self/statm") as statm:
        pages = int(statm.read().split()[1])
    return pages * os.sysconf("SC_PAGE_SIZE") // 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--calls", type=int, default=1_000_000)
    args = parser.parse_args()
    workload = mixed()
    recipe, values, packet = workload.recipe, workload.values, workload.packet
    broken = recipe[:5] + [entry("bad", "no_such_encoding", 8)]
    paths = {
        "unpack ok": lambda: telbit.unpack_parameters(packet, 0, recipe),
        "unpack error": lambda: telbit.unpack_parameters(packet, 0, broken),
        "pack ok": lambda: telbit.pack_parameters(recipe, values),
        "pack error": lambda: telbit.pack_parameters(recipe, {"timestamp": 1}),
        "argument error": lambda: telbit.decode_utf8(bytearray(b"x")),
        "text error": lambda: telbit.decode_utf8(b"\xff"),
    }
    print(f"{'path':<16} {'calls':>10} {'RSS before':>12} {'RSS after':>12} {'blocks before':>14} {'blocks after':>13}")
    for name, call in paths.items():
        for _ in range(1000):  # warm caches and free lists
            try:
                call()
            except (ValueError, TypeError):
                pass
        gc.collect()
        rss_before, blocks_before = resident_kib(), sys.getallocatedblocks()
        for _ in range(args.calls):
            try:
                call()
            except (ValueError, TypeError):
                pass
        gc.collect()
        rss_after, blocks_after = resident_kib(), sys.getallocatedblocks()
        print(f"{name:<16} {args.calls:>10} {rss_before:>9} KiB {rss_after:>9} KiB {blocks_before:>14} {blocks_after:>13}")


if __name__ == "__main__":
    main()
