"""python -m korvane: the korvane command."""

from .cli import run

if __name__ == "__main__":
    run()
