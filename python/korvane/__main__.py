"""python -m korvane: the korvane command."""

from .cli import run

run()
