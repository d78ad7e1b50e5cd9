"""``python -m zelk``: the same command line as the ``zelk`` script."""

from zelk.cli import main

if __name__ == "__main__":
    raise SystemExit(main())
