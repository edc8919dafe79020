"""Measures telbit beside its peers in one process and prints ratios.

    python bench/run.py [--rounds N] [--quick]

Each implementation's output is checked equal to telbit's before it is timed. Within a
round the implementations run one after another; the figure kept is the minimum over rounds,
so that the machine's noise cancels.
"""

import argparse
import json
import math
import os
import platform
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import telbit  # noqa: E402
from peers import available_peers  # noqa: E402
from workloads import all_workloads, entry, wide  # noqa: E402


def per_call_ns(function, argument, calls):
    start = time.perf_counter_ns()
    for _ in range(calls):
        function(argument)
    return (time.perf_counter_ns() - start) / calls


def calibrate(function, argument, budget_ns=20_000_000):
    calls = 1
    while True:
        elapsed = per_call_ns(function, argument, calls) * calls
        if elapsed > budget_ns / 10 or calls > 1_000_000:
            return max(1, int(calls * budget_ns / max(elapsed, 1) / 10))
        calls *= 4


def compare(label, contenders, rounds):
    """contenders: list of (name, function, argument). Returns name -> minimum ns per call."""
    calls = {name: calibrate(function, argument) for name, function, argument in contenders}
    best = {name: math.inf for name, _, _ in contenders}
    for _ in range(rounds):
        for name, function, argument in contenders:
            best[name] = min(best[name], per_call_ns(function, argument, calls[name]))
    return best


def report(label, best, fields, reference="telbit"):
    print(f"\n{label}")
    print(f"  {'implementation':<14} {'ns/packet':>11} {'ns/field':>9} {'vs telbit':>10}")
    for name, ns in best.items():
        ratio = ns / best[reference]
        print(f"  {name:<14} {ns:11.0f} {ns / fields:9.1f} {ratio:9.2f}x")


def workload_tables(rounds):
    for workload in all_workloads():
        peers = [peer(workload) for peer in available_peers()]
        decoded = telbit.unpack_parameters(workload.packet, 0, workload.recipe)
        assert decoded == workload.values
        for peer in peers:
            got = peer.decode(workload.packet)
            assert got == decoded, f"{peer.name} decodes {workload.name} differently"
            assert peer.encode(workload.values) == workload.packet, f"{peer.name} encodes {workload.name} differently"
        recipe, values = workload.recipe, workload.values
        decoders = [("telbit", lambda p, r=recipe: telbit.unpack_parameters(p, 0, r), workload.packet)]
        decoders += [(peer.name, peer.decode, workload.packet) for peer in peers]
        report(f"decode {workload.name} ({workload.fields} fields, {len(workload.packet)} bytes)",
               compare("decode", decoders, rounds), workload.fields)
        encoders = [("telbit", lambda v, r=recipe: telbit.pack_parameters(r, v), values)]
        encoders += [(peer.name, peer.encode, values) for peer in peers]
        report(f"encode {workload.name} ({workload.fields} fields, {len(workload.packet)} bytes)",
               compare("encode", encoders, rounds), workload.fields)


def standalone_table(rounds):
    import math as m
    ascii8 = b"HKSTAT01"
    pairs = [
        ("decode_twos_complement(v, 16)", lambda v: telbit.decode_twos_complement(v, 16), 0xFFFE,
         "math.gcd(v, 16)", lambda v: m.gcd(v, 16)),
        ("encode_ieee754_f16(x)", telbit.encode_ieee754_f16, 1.5, "abs(x)", abs),
        ("decode_utf8(b), 8 bytes", telbit.decode_utf8, ascii8, "b.decode()", bytes.decode),
        ("decode_packed_bcd(v, 32)", lambda v: telbit.decode_packed_bcd(v, 32), 0x12345678,
         "math.gcd(v, 32)", lambda v: m.gcd(v, 32)),
    ]
    print("\nstand-alone functions beside a builtin of the same arity")
    print(f"  {'call':<32} {'ns':>6}   {'builtin':<16} {'ns':>6} {'ratio':>7}")
    for label, function, argument, builtin_label, builtin in pairs:
        best = compare(label, [("telbit", function, argument), ("builtin", builtin, argument)], rounds)
        print(f"  {label:<32} {best['telbit']:6.1f}   {builtin_label:<16} {best['builtin']:6.1f} "
              f"{best['telbit'] / best['builtin']:6.2f}x")


def scaling_table(rounds):
    print("\nscaling: ns per field")
    results = {}
    for count in (10, 100, 1_000, 10_000):
        workload = wide(count)
        best = compare("", [("telbit", lambda p, r=workload.recipe: telbit.unpack_parameters(p, 0, r),
                             workload.packet)], rounds)
        results[count] = best["telbit"] / count
        encode = compare("", [("telbit", lambda v, r=workload.recipe: telbit.pack_parameters(r, v),
                               workload.values)], rounds)
        print(f"  recipe of {count:>6} fields: decode {results[count]:6.1f}   encode {encode['telbit'] / count:6.1f}")
    spread = max(results.values()) / min(results.values())
    print(f"  decode cost per field, largest / smallest: {spread:.2f}")
    recipe = [entry(f"f{i}", "unsigned", 16, offset_bits=16 * i) for i in range(10)]
    packet = bytes(20)
    for ignored in (0, 10, 1_000):
        crowded = [dict(e, **{f"note_{k}": k for k in range(ignored)}) for e in recipe]
        values = {e["name"]: 1 for e in recipe}
        decode = compare("", [("telbit", lambda p, r=crowded: telbit.unpack_parameters(p, 0, r), packet)], rounds)
        encode = compare("", [("telbit", lambda v, r=crowded: telbit.pack_parameters(r, v), values)], rounds)
        print(f"  entries with {ignored:>5} ignored keys, 10 fields: decode {decode['telbit'] / 10:6.1f}   "
              f"encode {encode['telbit'] / 10:6.1f} ns/field")
    for workload in all_workloads():
        # As read from a file: the keys shared by the entries, every text a new object.
        as_read = json.loads(json.dumps(workload.recipe))
        best = compare("", [("literal", lambda p, r=workload.recipe: telbit.unpack_parameters(p, 0, r), workload.packet),
                            ("json", lambda p, r=as_read: telbit.unpack_parameters(p, 0, r), workload.packet)], rounds)
        encode = compare("", [("literal", lambda v, r=workload.recipe: telbit.pack_parameters(r, v), workload.values),
                              ("json", lambda v, r=as_read: telbit.pack_parameters(r, v), workload.values)], rounds)
        print(f"  {workload.name} recipe read from JSON / written as literals: decode {best['json'] / best['literal']:.2f}"
              f"   encode {encode['json'] / encode['literal']:.2f}")
    for size in (100, 10_000, 1_000_000, 10_000_000):
        packet = bytes(size)
        best = compare("", [("telbit", lambda p, r=recipe: telbit.unpack_parameters(p, 0, r), packet)], rounds)
        print(f"  packet of {size:>10} bytes, 10 fields: decode {best['telbit'] / 10:6.1f} ns/field")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--quick", action="store_true", help="fewer rounds, for a smoke run")
    args = parser.parse_args()
    rounds = 2 if args.quick else args.rounds
    print(f"telbit benchmark: Python {platform.python_version()}, {platform.machine()}, "
          f"{os.cpu_count()} cores, {rounds} rounds")
    workload_tables(rounds)
    standalone_table(rounds)
    scaling_table(rounds)


if __name__ == "__main__":
    main()
