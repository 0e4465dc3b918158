"""The three split functions: worked results, listed nodes, draws and failures."""

import math

import pytest
from conftest import fails_with

import korvane

UNIFORM, SPREAD = korvane.split_supplies_uniform, korvane.split_supplies_spread
BETA = korvane.split_supplies_beta_binomial


def split(method, data, k, seed=42):
    """One call shape for all three methods; uniform ignores the seed."""
    return UNIFORM(data, k) if method is UNIFORM else method(data, k, seed=seed)


METHODS = pytest.mark.parametrize("method", [SPREAD, UNIFORM, BETA], ids=["spread", "uniform", "beta"])
RANDOM = pytest.mark.parametrize("method", [SPREAD, BETA], ids=["spread", "beta"])


@pytest.mark.parametrize(("method", "args", "expected"), [
    (UNIFORM, ({1: 5, 2: -5}, 2), {1: [2, 3], 2: [-2, -3]}),  # the remainder cursor carries over
    (UNIFORM, ({1: 2, 2: -2}, 3), {1: [1, 0, 1], 2: [-1, 0, -1]}),
    (UNIFORM, ({1: 6, 2: 0, 3: -6}, 3), {1: [2, 2, 2], 2: [0, 0, 0], 3: [-2, -2, -2]}),
    (SPREAD, ({1: 10, 2: -10}, 3, 42), {1: [4, 2, 4], 2: [-4, -2, -4]}),
    (BETA, ({1: 10, 2: -10}, 2), {1: [6, 4], 2: [-6, -4]}),
    (BETA, ({1: 100, 2: -60, 3: -40}, 3), {1: [41, 23, 36], 2: [-35, -7, -18], 3: [-6, -16, -18]}),
    # one commodity keeps each amount; only uniform lists the zero amounts, every node in ascending order
    (UNIFORM, ({9: 0, -3: 7, 5: -2}, 1), {-3: [7], 5: [-2], 9: [0]}),
    (SPREAD, ({9: 0, -3: 7, 5: -2}, 1, 3), {-3: [7], 5: [-2]}),
    (BETA, ({9: 0, -3: 7, 5: -2}, 1), {-3: [7], 5: [-2]}),
])
def test_worked_examples(method, args, expected):
    result = method(*args)
    assert result == expected and list(result) == sorted(result)


def test_spread_cuts_small_amounts_without_skipping_draws():
    # A lone supply is never rebalanced; an amount of 1 leaves one part 1 and the rest 0.
    assert sorted(SPREAD({3: 1}, 5, 7)[3]) == [0, 0, 0, 0, 1]
    assert sorted(SPREAD({3: -1}, 5, 7)[3]) == [-1, 0, 0, 0, 0]
    # Every non-zero node takes K - 1 cut points whatever its amount; a zero node takes none and
    # is not listed: the next node's cuts do not depend on the amount before it.
    assert list(SPREAD({4: 0, 2: 5, 3: -5, 7: 0}, 3, 1)) == [2, 3]
    for seed in range(5):
        assert SPREAD({1: 1, 2: 50}, 4, seed)[2] == SPREAD({1: 9, 2: 50}, 4, seed)[2]
        assert SPREAD({1: 0, 2: 50}, 4, seed)[2] == SPREAD({2: 50}, 4, seed)[2]


@RANDOM
def test_the_seed_matters(method):
    data = {1: 40, 2: -15, 3: -25, 4: 30, 5: -30}
    assert len({repr(split(method, data, 4, seed=seed)) for seed in range(6)}) > 1


@METHODS
def test_failures(method):
    assert split(method, {}, 0) == {}
    listed = {1: 0, 2: 0} if method is UNIFORM else {1: 0, 2: 3, 3: -3}  # uniform lists zero amounts
    no_magnitude = "supply amount -9223372036854775808 has no representable magnitude"
    for data, k, message in [(listed, 0, "num_commodities must be at least 1"),
                             ({1: 5, 2: -2**63}, 1, no_magnitude), ({1: 5, 2: -2**63}, 3, no_magnitude)]:
        assert fails_with(lambda: split(method, data, k)) == (korvane.InternalError, (message,))
    assert fails_with(lambda: split(method, {1: 5}, 2**62)) == (MemoryError, ())
    if method is not UNIFORM:
        assert split(method, {1: 0, 2: 0}, 0) == {}


@pytest.mark.parametrize(("param", "message"), [
    (0.0, "invalid Beta parameters: AlphaTooSmall"), (-1.0, "invalid Beta parameters: AlphaTooSmall"),
    (math.nan, "invalid Beta parameters: AlphaTooSmall"),
    (math.inf, "invalid Binomial parameters: ProbabilityTooSmall"),
])
def test_bad_concentration_fails_only_with_a_beta_draw(param, message):
    assert fails_with(lambda: BETA({1: 0, 2: 5, 3: -5}, 2, param)) == (korvane.InternalError, (message,))
    assert BETA({1: 5, 2: -5}, 1, param) == {1: [5], 2: [-5]}
    assert BETA({1: 0, 2: 0}, 3, param) == {}
