"""Decode a large archive in parallel: one function over slices of the archive file, mapped with
concurrent.futures on one machine, or with Dask, which runs the same code on a Dask cluster
when an archive is larger than one machine's memory.

    python examples/parallel_archive.py [--packets 200000] [--workers 2] [--dask]
    python examples/parallel_archive.py --archive /shared/hk.bin --scheduler tcp://host:8786

Each task is only a file name and a packet range: a worker maps the file, decodes its own slice
into columns with telbit_columns, and sends back a DataFrame of the columns it needs, so no
packet data crosses between processes. On a cluster the archive must be on storage that every
worker can read, and telbit must be installed on the workers.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import mmap
import pathlib
import sys
import tempfile
import time
from collections.abc import Callable, Iterable

import numpy as np
import pandas as pd

import telbit_columns
import telemetry
from telemetry import HOUSEKEEPING, PACKET_LENGTH

Summary = dict[str, float]
Task = tuple[str, int, int]  # archive path, first packet, number of packets


def decode_chunk(path: str, first: int, count: int) -> pd.DataFrame:
    """Packets first .. first + count - 1 of the archive, as a DataFrame of the columns needed."""
    with open(path, "rb") as archive, mmap.mmap(archive.fileno(), 0, access=mmap.ACCESS_READ) as mapped, \
            memoryview(mapped) as data, data[first * PACKET_LENGTH:(first + count) * PACKET_LENGTH] as piece:
        # Only the pages of this slice are read from the file.
        columns = telbit_columns.unpack_columns(piece, HOUSEKEEPING, PACKET_LENGTH)
    return pd.DataFrame({"battery_temp": np.asarray(columns["battery_temp"]) / 100,
                         "heater_on": np.asarray(columns["heater_on"])})


def merge(parts: Iterable[pd.DataFrame]) -> Summary:
    frames = list(parts)
    whole = pd.concat(frames, ignore_index=True) if frames else pd.DataFrame({"battery_temp": [], "heater_on": []})
    if whole.empty:
        return {"packets": 0, "temp_sum": 0.0, "temp_min": float("inf"), "temp_max": float("-inf"), "heater_on": 0}
    return {"packets": len(whole), "temp_sum": float(whole["battery_temp"].sum()),
            "temp_min": float(whole["battery_temp"].min()), "temp_max": float(whole["battery_temp"].max()),
            "heater_on": int(whole["heater_on"].sum())}


def tasks_for(path: pathlib.Path, packets_per_chunk: int) -> list[Task]:
    total = path.stat().st_size // PACKET_LENGTH
    return [(str(path), first, min(packets_per_chunk, total - first))
            for first in range(0, total, packets_per_chunk)]


def with_processes(tasks: list[Task], workers: int) -> list[pd.DataFrame]:
    if not tasks:
        return []
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(decode_chunk, *zip(*tasks)))


def with_dask(tasks: list[Task], workers: int, scheduler: str | None) -> list[pd.DataFrame]:
    # Dask's compute() and Client() carry no annotations, hence the ignores for mypy --strict.
    from dask.base import compute
    from dask.delayed import delayed

    parts = [delayed(decode_chunk, pure=True)(*task) for task in tasks]
    if scheduler is None:  # one machine: Dask's own process pool
        return list(compute(*parts, scheduler="processes", num_workers=workers))  # type: ignore[no-untyped-call]
    from dask.distributed import Client

    with Client(scheduler) as client:  # type: ignore[no-untyped-call]  # a cluster: the same tasks
        # The workers need this file and the packet format to unpickle decode_chunk.
        for module in (telemetry, sys.modules[decode_chunk.__module__]):
            if getattr(module, "__file__", None):
                client.upload_file(str(module.__file__))
        return list(compute(*parts))  # type: ignore[no-untyped-call]


def run(label: str, mapper: Callable[[], list[pd.DataFrame]]) -> Summary:
    start = time.perf_counter()
    summary = merge(mapper())
    elapsed = time.perf_counter() - start
    print(f"{label:<20} {summary['packets']:>9.0f} packets in {elapsed:6.2f} s, "
          f"mean battery temperature {summary['temp_sum'] / max(summary['packets'], 1):.2f} degC "
          f"({summary['temp_min']:.2f} to {summary['temp_max']:.2f}), heater on in {summary['heater_on']:.0f}")
    return summary


def decode_every_way(args: argparse.Namespace, archive: pathlib.Path) -> dict[str, Summary]:
    if not archive.exists():
        with archive.open("wb") as out:
            for packet in telemetry.sample_packets(args.packets):
                out.write(packet)
    tasks = tasks_for(archive, args.packets_per_chunk)
    results = {
        "serial": run("one process", lambda: [decode_chunk(*task) for task in tasks]),
        "processes": run("concurrent.futures", lambda: with_processes(tasks, args.workers)),
    }
    if args.dask or args.scheduler:
        results["dask"] = run("dask", lambda: with_dask(tasks, args.workers, args.scheduler))
    return results


def main(argv: list[str] | None = None) -> dict[str, Summary]:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--archive", type=pathlib.Path,
                        help="archive file to decode (written with --packets sample packets if missing)")
    parser.add_argument("--packets", type=int, default=200_000)
    parser.add_argument("--packets-per-chunk", type=int, default=20_000)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--dask", action="store_true", help="also map the chunks with Dask")
    parser.add_argument("--scheduler", help="address of a Dask scheduler (implies --dask)")
    args = parser.parse_args(argv)
    if args.archive is not None:
        return decode_every_way(args, args.archive)
    with tempfile.TemporaryDirectory() as directory:
        return decode_every_way(args, pathlib.Path(directory) / "housekeeping.bin")


if __name__ == "__main__":
    main()
