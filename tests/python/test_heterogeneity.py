"""Commodity-demand heterogeneity: worked values, which nodes count, and the bounds on real partitions."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import korvane

H = korvane.compute_commodity_demand_heterogeneity


@pytest.mark.parametrize(("partition", "original", "expected"), [
    ({1: [3, 1], 2: [-2, -2]}, {1: 4, 2: -4}, 0.25),
    ({1: [5, 0]}, {1: 4}, 1.25),  # parts that exceed the amount are not clamped
    ({0: [1, 1], 1: [], 2: [2, 0]}, {1: 3, 2: 2, 3: 5}, 0.5),  # K from an inactive node; an empty list counts
    ({}, {1: 4}, 0.0), ({1: [4, 0]}, {}, 0.0), ({1: [], 2: []}, {1: 4, 2: -4}, 0.0),
    ({1: [4], 2: [-1, -3]}, {1: 4, 2: -4}, 0.0),  # K = 1 from the first non-empty list
    ({1: [4, 0], 2: [0, 0], 3: [1, 1]}, {1: 4, 2: 0, 3: 2}, 0.5),  # zero amounts do not count
    ({1: [4, 0], 5: [9, 0]}, {1: 4, 2: -6}, 1.0),  # nodes missing on either side do not count
    ({1: [4, 0]}, {1: 0, 2: 3}, 0.0),
    ({1: [-6, 0, 0]}, {1: -6}, 1.0),
    ({1: [-2**62, -2**62]}, {1: -2**63}, 0.0),  # the most negative amount has its magnitude
    ({1: [2, 2], 2: [2, 0, 2]}, {1: 4, 2: 4}, 0.25),  # a longer list is summed whole
])
def test_worked_values(partition, original, expected):
    result = H(partition, original)
    assert type(result) is float and result == expected


@pytest.mark.parametrize(("k", "expected"), [
    (2, 1.0), (3, 1.0), (4, 1.0), (5, 0.9999999999999999), (6, 1.0000000000000002), (8, 1.0)])
def test_whole_amount_on_commodity_zero(k, expected):
    assert H({1: [12] + [0] * (k - 1), 2: [-7] + [0] * (k - 1), 3: [0] * k}, {1: 12, 2: -7, 3: 0}) == expected


@settings(derandomize=True, max_examples=100, deadline=None)
@given(st.integers(2, 9), st.dictionaries(st.integers(-20, 20), st.integers(-50, 50).filter(bool), min_size=1),
       st.dictionaries(st.integers(-20, 20), st.integers(-80, 80), max_size=6), st.integers(0, 2**32))
def test_even_splits_score_zero_and_partitions_stay_in_the_unit_interval(k, shares, data, seed):
    assert H({node: [share] * k for node, share in shares.items()}, {n: s * k for n, s in shares.items()}) == 0.0
    for partition in (korvane.split_supplies_spread(data, k, seed),
                      korvane.split_supplies_beta_binomial(data, k, 0.5, seed)):
        assert -1e-12 <= H(partition, data) <= 1.0 + 1e-12
