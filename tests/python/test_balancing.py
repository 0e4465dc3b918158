"""Commodity balancing as every partitioner's last step: the properties callers rely on, and
commodity totals at the edge of the signed 64-bit range."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import korvane

SETTINGS = settings(derandomize=True, max_examples=200, deadline=None)

supplies = st.dictionaries(st.integers(-30, 30), st.integers(-60, 60), max_size=8)
commodities = st.integers(1, 5)
seeds = st.integers(0, 2**64 - 1)


def check_partition(data, k, result, lists_zero_nodes):
    expected_nodes = sorted(n for n, a in data.items() if a != 0 or lists_zero_nodes)
    assert list(result) == expected_nodes
    for node, parts in result.items():
        amount = data[node]
        assert len(parts) == k
        assert sum(parts) == amount
        if amount >= 0:
            assert min(parts) >= 0
        if amount <= 0:
            assert max(parts) <= 0


def check_balanced(data, k, result):
    totals = [sum(parts[c] for parts in result.values()) for c in range(k)]
    net = sum(data.values())
    assert sum(totals) == net
    assert not (any(t > 0 for t in totals) and any(t < 0 for t in totals))
    if net == 0:
        assert totals == [0] * k
    elif net > 0:
        assert min(totals) >= 0
    else:
        assert max(totals) <= 0


class TestBalancedPartitions:
    @SETTINGS
    @given(supplies, commodities, seeds)
    def test_spread(self, data, k, seed):
        result = korvane.split_supplies_spread(data, k, seed)
        check_partition(data, k, result, lists_zero_nodes=False)
        check_balanced(data, k, result)

    @SETTINGS
    @given(supplies, commodities)
    def test_uniform(self, data, k):
        result = korvane.split_supplies_uniform(data, k)
        check_partition(data, k, result, lists_zero_nodes=True)
        check_balanced(data, k, result)

    @SETTINGS
    @given(supplies, commodities, st.floats(0.05, 50.0), seeds)
    def test_beta_binomial(self, data, k, concentration, seed):
        result = korvane.split_supplies_beta_binomial(data, k, concentration, seed)
        check_partition(data, k, result, lists_zero_nodes=False)
        check_balanced(data, k, result)

    @SETTINGS
    @given(st.dictionaries(st.integers(-2**63, 2**63 - 1), st.integers(-2**60, 2**60), max_size=6),
           st.integers(1, 8))
    def test_uniform_with_large_amounts(self, data, k):
        # |amounts| add up to less than 2**63, so no commodity total can leave the range.
        result = korvane.split_supplies_uniform(data, k)
        check_partition(data, k, result, lists_zero_nodes=True)
        check_balanced(data, k, result)

ALL = [korvane.split_supplies_uniform,
       lambda d, k: korvane.split_supplies_spread(d, k, 3),
       lambda d, k: korvane.split_supplies_beta_binomial(d, k, 3.0, 3)]
ALL_IDS = ["uniform", "spread", "beta"]
MAX = 2**63 - 1
OVERFLOW_MESSAGE = "total of commodity 0 overflows a signed 64-bit integer"


class TestTotalsAtTheRangeLimit:
    @pytest.mark.parametrize("split", ALL, ids=ALL_IDS)
    @pytest.mark.parametrize("data", [
        {1: 2**62, 2: 2**62},
        {1: MAX, 2: 1},
        {1: -2**62, 2: -2**62, 3: -1},
    ])
    def test_single_commodity_total_out_of_range(self, split, data):
        with pytest.raises(korvane.InternalError) as exc:
            split(data, 1)
        assert exc.value.args == (OVERFLOW_MESSAGE,)

    @pytest.mark.parametrize("split", ALL, ids=ALL_IDS)
    def test_every_split_of_three_maximal_supplies_overflows(self, split):
        # 3 * MAX cannot be shared by two commodities without one passing MAX.
        with pytest.raises(korvane.InternalError) as exc:
            split({1: MAX, 2: MAX, 3: MAX}, 2)
        assert str(exc.value).startswith("total of commodity ")
        assert str(exc.value).endswith(" overflows a signed 64-bit integer")

    def test_uniform_two_commodities_one_past_the_limit(self):
        assert korvane.split_supplies_uniform({1: MAX, 2: MAX}, 2) == {
            1: [2**62, 2**62 - 1], 2: [2**62 - 1, 2**62]}
        with pytest.raises(korvane.InternalError) as exc:
            korvane.split_supplies_uniform({1: MAX, 2: MAX, 3: 2}, 2)
        assert exc.value.args == (OVERFLOW_MESSAGE,)

    @pytest.mark.parametrize("split", ALL, ids=ALL_IDS)
    @pytest.mark.parametrize("data", [
        {1: 2**62, 2: 2**62, 3: -2**62, 4: -2**62},
        {1: -2**62, 2: -2**62},
        {1: MAX, 2: 1, 3: -5},
    ])
    def test_single_commodity_totals_that_fit(self, split, data):
        assert split(data, 1) == {node: [amount] for node, amount in data.items()}

    def test_two_commodities_share_a_total_that_would_not_fit_in_one(self):
        data = {1: 2**62, 2: 2**62, 3: -2**62, 4: -2**62}
        half = 2**61
        assert korvane.split_supplies_uniform(data, 2) == {
            1: [half, half], 2: [half, half], 3: [-half, -half], 4: [-half, -half]}
        assert korvane.split_supplies_uniform({1: 2**62, 2: 2**62}, 2) == {1: [half, half], 2: [half, half]}
