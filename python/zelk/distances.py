"""Matrices of distances between node positions that compute their entries when read.

An agent type that travels at the distance between nodes (a type without a matrix, or a
TSPLIB file of coordinates) would need n x n numbers as a list of lists: 10,000 nodes make
a hundred million Python floats. A :class:`PositionDistances` keeps the points instead,
reads like the list would, and reaches the core as a rule that it computes the same way.
"""

from __future__ import annotations

import itertools
import math
from collections.abc import Iterator, Sequence
from typing import Any

__all__ = ["DISTANCE_RULES", "PositionDistances"]

#: How a distance becomes a cost: as is, rounded to the nearest whole number (halves
#: up, as TSPLIB's nint), or rounded up (TSPLIB's CEIL_2D).
DISTANCE_RULES = ("exact", "nint", "ceil")


class PositionDistances(Sequence[Sequence[float]]):
    """The n x n matrix of distances between ``points`` (x, y, z), entry ``[i][j]`` computed
    when read, with the core's arithmetic: ``sqrt(dx*dx + dy*dy + dz*dz)``, then rounded by
    ``rule`` ("exact", "nint" or "ceil"). Reads like a list of rows; ``tolist()`` and
    ``numpy.asarray`` give every entry. Immutable."""

    __slots__ = ("_points", "rule")

    def __init__(self, points: Sequence[Sequence[float]], rule: str = "exact") -> None:
        if rule not in DISTANCE_RULES:
            raise ValueError(f"rule must be one of {DISTANCE_RULES} (got {rule!r})")
        points = tuple(points)
        if all(type(p) is tuple and len(p) == 3 for p in points) and set(
            map(type, itertools.chain.from_iterable(points))
        ) <= {float}:
            # Already (x, y, z) in floats, as the instance checker builds them: kept as
            # they are (re-building 10,000 of them was a tenth of reading an instance).
            self._points = points
        else:
            self._points = tuple((*map(float, p), 0.0, 0.0)[:3] for p in points)
        self.rule = rule

    def entry(self, i: int, j: int) -> float:
        if i == j:
            return 0.0
        (xi, yi, zi), (xj, yj, zj) = self._points[i], self._points[j]
        dx, dy, dz = xi - xj, yi - yj, zi - zj
        d = math.sqrt(dx * dx + dy * dy + dz * dz)
        if self.rule == "nint":
            return float(math.floor(d + 0.5))
        if self.rule == "ceil":
            return float(math.ceil(d))
        return d

    def __len__(self) -> int:
        return len(self._points)

    def __getitem__(self, i: Any) -> Any:
        if isinstance(i, slice):
            return [self[k] for k in range(*i.indices(len(self)))]
        k = range(len(self))[i]  # negative indices and IndexError as a list has them
        return _DistanceRow(self, k)

    def __iter__(self) -> Iterator[Sequence[float]]:
        return (_DistanceRow(self, k) for k in range(len(self)))

    def __repr__(self) -> str:
        return f"PositionDistances({len(self)} points, rule={self.rule!r})"

    def tolist(self) -> list[list[float]]:
        return [list(row) for row in self]

    def __array__(self, dtype: Any = None, copy: Any = None) -> Any:
        d = self._rows(self._array(), 0, len(self))
        return d if dtype is None else d.astype(dtype, copy=False)

    def nearest_other(self) -> list[float]:
        """For each point, its distance to the nearest other point (+inf when alone):
        the cheapest arc out of it and, distances being symmetric, into it. Row blocks
        keep the memory to a few megabytes whatever the size."""
        import numpy

        n = len(self)
        nearest = numpy.full(n, numpy.inf)
        points = self._array()
        block = max(1, 2**18 // max(1, n))
        for first in range(0, n, block):
            rows = self._rows(points, first, min(n, first + block))
            rows[numpy.arange(len(rows)), numpy.arange(first, first + len(rows))] = numpy.inf
            nearest[first : first + len(rows)] = rows.min(axis=1, initial=numpy.inf)
        return [float(value) for value in nearest]

    def _array(self) -> Any:
        import numpy

        return numpy.array(self._points, dtype=float).reshape(len(self), 3)

    def _rows(self, points: Any, first: int, last: int) -> Any:
        """Rows first .. last - 1 as an array, with the core's arithmetic and rounding."""
        import numpy

        squares = numpy.zeros((last - first, len(self)))
        for axis in range(3):
            column = points[:, axis]
            delta = column[first:last, None] - column[None, :]
            squares += delta * delta
        d = numpy.sqrt(squares)
        if self.rule == "nint":
            d = numpy.floor(d + 0.5)
        elif self.rule == "ceil":
            d = numpy.ceil(d)
        d[numpy.arange(last - first), numpy.arange(first, last)] = 0.0
        return d


class _DistanceRow(Sequence[float]):
    __slots__ = ("_matrix", "_row")

    def __init__(self, matrix: PositionDistances, row: int) -> None:
        self._matrix = matrix
        self._row = row

    def __len__(self) -> int:
        return len(self._matrix)

    def __getitem__(self, j: Any) -> Any:
        if isinstance(j, slice):
            return [self[k] for k in range(*j.indices(len(self)))]
        return self._matrix.entry(self._row, range(len(self))[j])

    def __iter__(self) -> Iterator[float]:
        entry, row = self._matrix.entry, self._row
        return (entry(row, j) for j in range(len(self)))

    def tolist(self) -> list[float]:
        return list(self)
