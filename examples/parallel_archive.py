"""Decode a large archive in parallel: the same function over chunks of packets, mapped with
concurrent.futures on one machine, or with Dask when it is installed (and on a Dask cluster
when one machine is not enough: pass the scheduler's address).

    python examples/parallel_archive.py [--packets 200000] [--workers 2] [--dask] [--scheduler ADDRESS]
"""

from __future__ import annotations

import argparse
import concurrent.futures
import time
from collections.abc import Callable, Iterable
from typing import Any

import telbit
from telemetry import HOUSEKEEPING, PACKET_LENGTH, sample_packets

Summary = dict[str, float]


def decode_chunk(chunk: bytes) -> Summary:
    """Decode every packet of a chunk and reduce it to a few statistics.

    Only plain data crosses between processes: the chunk's bytes in, a small dict out.
    """
    count = len(chunk) // PACKET_LENGTH
    temps: list[int] = []
    heater = 0
    for index in range(count):
        values = telbit.unpack_parameters(chunk, 8 * PACKET_LENGTH * index, HOUSEKEEPING)
        temps.append(int(values["battery_temp"]))
        heater += int(values["heater_on"])
    return {"packets": count, "temp_sum": sum(temps) / 100, "temp_min": min(temps) / 100,
            "temp_max": max(temps) / 100, "heater_on": heater}


def merge(parts: Iterable[Summary]) -> Summary:
    total: Summary = {"packets": 0, "temp_sum": 0.0, "temp_min": float("inf"), "temp_max": float("-inf"),
                      "heater_on": 0}
    for part in parts:
        total["packets"] += part["packets"]
        total["temp_sum"] += part["temp_sum"]
        total["temp_min"] = min(total["temp_min"], part["temp_min"])
        total["temp_max"] = max(total["temp_max"], part["temp_max"])
        total["heater_on"] += part["heater_on"]
    return total


def chunks(archive: bytes, packets_per_chunk: int) -> list[bytes]:
    size = PACKET_LENGTH * packets_per_chunk
    return [archive[start:start + size] for start in range(0, len(archive), size)]


def with_processes(parts: list[bytes], workers: int) -> list[Summary]:
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(decode_chunk, parts))


def with_dask(parts: list[bytes], workers: int, scheduler: str | None) -> list[Summary]:
    import dask.bag
    from dask.base import compute

    # Dask's functions carry no annotations.
    bag = dask.bag.from_sequence(parts, npartitions=len(parts)).map(decode_chunk)  # type: ignore[no-untyped-call]
    if scheduler:  # a cluster: the same code, another scheduler
        from dask.distributed import Client

        with Client(scheduler):
            result: list[Summary] = bag.compute()
            return result
    result = compute(bag, scheduler="processes", num_workers=workers)[0]  # type: ignore[no-untyped-call]
    return list(result)


def run(label: str, mapper: Callable[[], list[Summary]]) -> Summary:
    start = time.perf_counter()
    summary = merge(mapper())
    elapsed = time.perf_counter() - start
    print(f"{label:<20} {summary['packets']:>8.0f} packets in {elapsed:6.2f} s, "
          f"mean battery temperature {summary['temp_sum'] / summary['packets']:.2f} degC "
          f"({summary['temp_min']:.2f} to {summary['temp_max']:.2f}), heater on in {summary['heater_on']:.0f}")
    return summary


def main(argv: list[str] | None = None) -> dict[str, Any]:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--packets", type=int, default=200_000)
    parser.add_argument("--packets-per-chunk", type=int, default=20_000)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--dask", action="store_true", help="also map the chunks with Dask")
    parser.add_argument("--scheduler", help="address of a Dask scheduler (implies --dask)")
    args = parser.parse_args(argv)
    archive = b"".join(sample_packets(args.packets))
    parts = chunks(archive, args.packets_per_chunk)
    results = {
        "serial": run("one process", lambda: [decode_chunk(part) for part in parts]),
        "processes": run("concurrent.futures", lambda: with_processes(parts, args.workers)),
    }
    if args.dask or args.scheduler:
        results["dask"] = run("dask", lambda: with_dask(parts, args.workers, args.scheduler))
    return results


if __name__ == "__main__":
    main()
