"""Leak checks: the reference counts of what calls are given, and the interpreter's block count."""

import gc
import sys


def swallow(call):
    try:
        call()
    except Exception:
        pass


def assert_keeps_refcounts(call, watched, rounds=20, collect=True):
    """Running `call` again and again leaves every watched object with the references it had.

    Calls that make no reference cycles can skip the collections, which in a large test process
    cost more than the calls.
    """
    watched = [o for o in watched if sys.getrefcount(o) < 10**8]  # immortal objects are shared by all
    swallow(call)  # whatever the first call caches is not a leak
    if collect:
        gc.collect()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(rounds):
        swallow(call)
    if collect:
        gc.collect()
    assert [sys.getrefcount(o) for o in watched] == before


def assert_allocates_nothing_that_stays(calls, rounds):
    """Many rounds of every call: a leak of even one object per call shows up as thousands of blocks."""
    for call in calls:
        swallow(call)
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(rounds):
        for call in calls:
            swallow(call)
    gc.collect()
    grown = sys.getallocatedblocks() - before
    assert grown < 100, f"{grown} blocks more after {rounds * len(calls)} calls"
