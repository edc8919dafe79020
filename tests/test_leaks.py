"""No reference is leaked or lost, on success and on every kind of error path."""

import pytest

import telbit
from functions import CALLS, PACKET, RECIPE, VALUES
from leakcheck import assert_allocates_nothing_that_stays, assert_keeps_refcounts


@pytest.mark.parametrize("call", CALLS, ids=[call.label for call in CALLS])
def test_argument_refcounts_unchanged(call):
    assert_keeps_refcounts(call, [*call.args, *call.kwargs.values()], collect=False)


def test_no_growth_in_allocated_blocks():
    assert_allocates_nothing_that_stays(CALLS, rounds=300)


def test_recipe_items_refcounts_unchanged():
    entries = [dict(e) for e in RECIPE]

    def call():
        telbit.unpack_parameters(PACKET, 0, entries)
        telbit.pack_parameters(entries, VALUES)
        telbit.pack_parameters(entries, {})

    assert_keeps_refcounts(call, entries + [e["name"] for e in entries] + list(VALUES.values()), rounds=50)
