"""Shared fixtures: small network files written into tmp_path, the record field lists, and the
DIMACS sample folder."""

from pathlib import Path

import pytest

import korvane

DATA = Path(__file__).resolve().parents[2].parent / "shared" / "data" / "dimacs"

needs_data = pytest.mark.skipif(
    not DATA.is_dir(),
    reason=f"DIMACS sample folder {DATA} is absent (it lives beside the checkout, not in it)",
)

DATA_FIELDS = [
    "supply_partition", "method", "commodity_edges", "capacities", "weight", "weights_by_arc",
    "capacities_by_arc", "commodity_capacities", "commodity_weights", "num_commodities",
    "randomized_capacities", "randomized_weights", "cap_zero", "cap_zero_param", "seed", "parallel",
    "arc_indices",
]
PARSED_FIELDS = [
    "num_nodes", "num_arcs", "num_commodities", "randomized_capacities", "randomized_weights",
    "nodes", "edges", "supplies", "commodity_supply_demand_data", "capacities",
    "commodity_capacities", "commodity_weights", "commodity_edges", "start_nodes", "end_nodes",
    "method", "cap_zero", "cap_zero_param", "seed", "parallel", "arc_indices",
    "commodity_bundle_capacities",
]


@pytest.fixture
def min_file(tmp_path):
    """Write str (as UTF-8) or bytes verbatim to a fresh file and return its path as str."""
    counter = iter(range(1_000_000))

    def write(content, name=None):
        path = tmp_path / (name or f"net{next(counter)}.min")
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        return str(path)

    return write


@pytest.fixture
def net(min_file):
    """Load a NetworkInstance from .min text."""
    return lambda text: korvane.load_min_instance(min_file(text))
