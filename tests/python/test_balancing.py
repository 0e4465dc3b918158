"""Commodity balancing: the properties callers rely on, totals at the 64-bit edge."""

import pytest
from conftest import fails_with
from hypothesis import given, settings
from hypothesis import strategies as st

import korvane

MAX = 2**63 - 1
TOO_LARGE_TOTAL = "total of commodity 0 overflows a signed 64-bit integer"
SPLITS = {
    "spread": lambda data, k, c=3.0, seed=3: korvane.split_supplies_spread(data, k, seed),
    "uniform": lambda data, k, c=3.0, seed=3: korvane.split_supplies_uniform(data, k),
    "beta": lambda data, k, c=3.0, seed=3: korvane.split_supplies_beta_binomial(data, k, c, seed),
}


def check_balanced(name, data, k, result):
    """Listed nodes, node totals and signs kept, and no surplus beside a deficit at the end."""
    assert list(result) == sorted(n for n, a in data.items() if a != 0 or name == "uniform")
    for node, parts in result.items():
        assert len(parts) == k and sum(parts) == data[node]
        assert all(p * data[node] >= 0 for p in parts)
        assert data[node] != 0 or parts == [0] * k
    totals = [sum(parts[c] for parts in result.values()) for c in range(k)]
    net = sum(data.values())
    assert totals == [0] * k if net == 0 else all(t * net >= 0 for t in totals)


@pytest.mark.parametrize("name", SPLITS)
@settings(derandomize=True, max_examples=200, deadline=None)
@given(st.dictionaries(st.integers(-30, 30), st.integers(-60, 60), max_size=8), st.integers(1, 5),
       st.floats(0.05, 50.0), st.integers(0, 2**64 - 1))
def test_partitions_are_balanced(name, data, k, concentration, seed):
    check_balanced(name, data, k, SPLITS[name](data, k, concentration, seed))


@settings(derandomize=True, max_examples=200, deadline=None)
@given(st.dictionaries(st.integers(-2**63, MAX), st.integers(-2**60, 2**60), max_size=6), st.integers(1, 8))
def test_uniform_with_large_amounts(data, k):
    # |amounts| add up to less than 2**63, so no commodity total can leave the range.
    check_balanced("uniform", data, k, korvane.split_supplies_uniform(data, k))


@pytest.mark.parametrize("name", SPLITS)
def test_totals_at_the_range_limit(name):
    split = SPLITS[name]
    for data in [{1: 2**62, 2: 2**62}, {1: MAX, 2: 1}, {1: -2**62, 2: -2**62, 3: -1}]:
        assert fails_with(lambda: split(data, 1)) == (korvane.InternalError, (TOO_LARGE_TOTAL,))
    # 3 * MAX cannot be shared by two commodities without one passing MAX.
    with pytest.raises(korvane.InternalError, match="^total of commodity [01] overflows a signed 64-bit integer$"):
        split({1: MAX, 2: MAX, 3: MAX}, 2)
    for data in [{1: 2**62, 2: 2**62, 3: -2**62, 4: -2**62}, {1: -2**62, 2: -2**62}, {1: MAX, 2: 1, 3: -5}]:
        assert split(data, 1) == {node: [amount] for node, amount in data.items()}


def test_two_commodities_share_a_total_that_would_not_fit_in_one():
    half = 2**61
    assert korvane.split_supplies_uniform({1: 2**62, 2: 2**62, 3: -2**62, 4: -2**62}, 2) == {
        1: [half, half], 2: [half, half], 3: [-half, -half], 4: [-half, -half]}
    assert korvane.split_supplies_uniform({1: MAX, 2: MAX}, 2) == {1: [2**62, 2**62 - 1], 2: [2**62 - 1, 2**62]}
    assert fails_with(lambda: korvane.split_supplies_uniform({1: MAX, 2: MAX, 3: 2}, 2)) == \
        (korvane.InternalError, (TOO_LARGE_TOTAL,))
