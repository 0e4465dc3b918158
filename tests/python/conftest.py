"""Shared fixtures: small .min files written into tmp_path, and the DIMACS sample folder."""

from pathlib import Path

import pytest

DATA = Path(__file__).resolve().parents[2].parent / "shared" / "data" / "dimacs"

needs_data = pytest.mark.skipif(
    not DATA.is_dir(),
    reason=f"DIMACS sample folder {DATA} is absent (it lives beside the checkout, not in it)",
)


@pytest.fixture
def min_file(tmp_path):
    """Write str (as UTF-8) or bytes verbatim to a fresh file and return its path as str."""
    counter = iter(range(1_000_000))

    def write(content, name=None):
        path = tmp_path / (name or f"net{next(counter)}.min")
        path.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        return str(path)

    return write
