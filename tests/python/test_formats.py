"""Instance converters: TSPLIB distances and layouts, Solomon time windows, detection."""

import json
import math
import os
from pathlib import Path

import pytest
from checks import run_capped

from zelk.formats import (
    AGENT_TYPE,
    FormatError,
    detect_format,
    load_instance,
    parse_tsplib,
    solomon_to_instance,
    tsplib_distance,
    tsplib_matrix,
    tsplib_to_instance,
)

DATA = Path(__file__).resolve().parents[1] / "data"
SHARED = Path("/work/shared/data")


def tsplib_text(kind: str, rows: list[str], *, extra: str = "", problem_type: str = "TSP") -> str:
    return (
        f"NAME : t\nTYPE : {problem_type}\nDIMENSION : {len(rows)}\n"
        f"EDGE_WEIGHT_TYPE : {kind}\n{extra}NODE_COORD_SECTION\n" + "\n".join(rows) + "\nEOF\n"
    )


@pytest.mark.parametrize(
    ("kind", "a", "b", "rounded", "exact"),
    [
        # 3-4-5 triangle: both conventions agree on whole distances.
        ("EUC_2D", (0, 0), (3, 4), 5.0, 5.0),
        # sqrt(2) = 1.414 -> nint 1.
        ("EUC_2D", (0, 0), (1, 1), 1.0, math.sqrt(2)),
        # sqrt(6.25) = 2.5 -> nint rounds halves up: (int)(2.5 + 0.5) = 3.
        ("EUC_2D", (0, 0), (1.5, 2.0), 3.0, 2.5),
        # sqrt(2) rounded up.
        ("CEIL_2D", (0, 0), (1, 1), 2.0, math.sqrt(2)),
        # sqrt(1 + 4 + 4) = 3.
        ("EUC_3D", (0, 0, 0), (1, 2, 2), 3.0, 3.0),
        # |1.4| + |1.4| = 2.8 -> 3.
        ("MAN_2D", (0, 0), (1.4, 1.4), 3.0, 2.8),
        # max(nint 1.4, nint 2.6) = 3.
        ("MAX_2D", (0, 0), (1.4, 2.6), 3.0, 2.6),
        # ATT: r = sqrt(100 / 10) = 3.162, t = nint(r) = 3 < r, so 4.
        ("ATT", (0, 0), (10, 0), 4.0, math.sqrt(10)),
        # ATT: r = sqrt(1000 / 10) = 10 exactly, t = 10 is not below r, so 10.
        ("ATT", (0, 0), (10, 30), 10.0, 10.0),
        # GEO along the equator, 1 degree: 6378.388 * 3.141592 / 180 = 111.32 -> (int)(112.32).
        ("GEO", (0, 0), (0, 1), 112.0, 111.32384840942224),
        # GEO 1.30 is 1 degree 30 minutes = 1.5 degrees: 166.99 -> (int)(167.99) = 167.
        ("GEO", (0, 0), (0, 1.30), 167.0, 166.98577261413337),
        # GEO 1.50 is 1 degree 50 minutes = 1.8333 degrees (degrees truncated, not
        # rounded: rounding would make it 2 - 0.8333 degrees and give 130): 204.09 -> 205.
        ("GEO", (0, 0), (0, 1.50), 205.0, 204.09372208394078),
        # Negative coordinates truncate toward zero too: -1.30 is -1.5 degrees.
        ("GEO", (0, 0), (0, -1.30), 167.0, 166.98577261413337),
    ],
)
def test_tsplib_distance_rounded_and_exact(kind, a, b, rounded, exact) -> None:
    assert tsplib_distance(kind, a, b) == rounded
    assert tsplib_distance(kind, a, b, exact=True) == pytest.approx(exact, rel=1e-12)
    # Every distance type is symmetric.
    assert tsplib_distance(kind, b, a) == rounded


def test_tsplib_distance_rejects_an_unknown_type() -> None:
    with pytest.raises(FormatError, match="XRAY1"):
        tsplib_distance("XRAY1", (0, 0), (1, 1))


def test_euc_2d_file_nint_by_default_exact_on_request() -> None:
    text = tsplib_text("EUC_2D", ["1 0 0", "2 1 1", "3 3 4"])
    nint = tsplib_to_instance(text)["costs"][AGENT_TYPE]
    exact = tsplib_to_instance(text, distances="exact")["costs"][AGENT_TYPE]
    # d(1,2) = sqrt 2, d(1,3) = 5, d(2,3) = sqrt(4 + 9) = 3.606.
    assert nint == [[0, 1, 5], [1, 0, 4], [5, 4, 0]]
    assert exact[0][1] == pytest.approx(math.sqrt(2))
    assert exact[1][2] == pytest.approx(math.sqrt(13))


@pytest.mark.parametrize("kind", ["EUC_2D", "CEIL_2D"])
@pytest.mark.parametrize("distances", ["nint", "exact"])
def test_whole_matrix_equals_the_distance_of_each_pair(kind: str, distances: str) -> None:
    """The matrix is built row by row for speed; the pairwise function is the oracle,
    to the last bit, on coordinates that land on halves and on fractions."""
    import random

    rng = random.Random(3)
    rows = [f"{v + 1} {rng.choice([0.5, 2.5, rng.uniform(-50, 50)])} {rng.randint(-9, 9)}"
            for v in range(40)]  # fmt: skip
    data = parse_tsplib(tsplib_text(kind, rows))
    matrix = tsplib_matrix(data, distances)
    exact = distances == "exact"
    assert matrix == [
        [0.0 if i == j else tsplib_distance(kind, a, b, exact=exact) for j, b in enumerate(data.coords)]
        for i, a in enumerate(data.coords)
    ]  # fmt: skip


# One symmetric 4-node matrix written in every explicit layout.
MATRIX = [[0, 1, 2, 3], [1, 0, 4, 5], [2, 4, 0, 6], [3, 5, 6, 0]]
LAYOUTS = {
    "FULL_MATRIX": "0 1 2 3\n1 0 4 5\n2 4 0 6\n3 5 6 0",
    "UPPER_ROW": "1 2 3\n4 5\n6",
    "LOWER_ROW": "1\n2 4\n3 5 6",
    "UPPER_DIAG_ROW": "0 1 2 3\n0 4 5\n0 6\n0",
    "LOWER_DIAG_ROW": "0\n1 0\n2 4 0\n3 5 6 0",
    # Column layouts: column 1 of the upper triangle is (0,1); column 2 is (0,2),(1,2); ...
    "UPPER_COL": "1\n2 4\n3 5 6",
    "LOWER_COL": "1 2 3\n4 5\n6",
    "UPPER_DIAG_COL": "0\n1 0\n2 4 0\n3 5 6 0",
    # Line breaks inside the section do not matter: the weights are one stream.
    "LOWER_DIAG_COL": "0 1 2\n3 0 4 5 0 6 0",
}


def explicit_text(layout: str, weights: str, problem_type: str = "TSP") -> str:
    n = len(MATRIX)
    return (
        f"NAME: m\nTYPE: {problem_type}\nDIMENSION: {n}\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
        f"EDGE_WEIGHT_FORMAT: {layout}\nEDGE_WEIGHT_SECTION\n{weights}\nEOF\n"
    )


@pytest.mark.parametrize("layout", sorted(LAYOUTS))
def test_explicit_layouts_give_the_same_matrix(layout: str) -> None:
    assert tsplib_matrix(parse_tsplib(explicit_text(layout, LAYOUTS[layout]))) == MATRIX


def test_explicit_full_matrix_keeps_an_asymmetric_matrix() -> None:
    text = explicit_text("FULL_MATRIX", "0 1 2 3\n9 0 4 5\n2 4 0 6\n3 5 8 0", "ATSP")
    matrix = tsplib_matrix(parse_tsplib(text))
    assert matrix[1][0] == 9 and matrix[0][1] == 1 and matrix[3][2] == 8


def test_explicit_with_a_missing_weight_is_refused() -> None:
    with pytest.raises(FormatError, match="6 weights, the file has 5"):
        tsplib_matrix(parse_tsplib(explicit_text("UPPER_ROW", "1 2 3\n4 5")))


@pytest.mark.parametrize(
    ("text", "message"),
    [
        # DIMENSION says 3, two nodes follow.
        (
            tsplib_text("EUC_2D", ["1 0 0", "2 1 1"]).replace("DIMENSION : 2", "DIMENSION : 3"),
            "lists 2 nodes",
        ),
        # A tour file is not an instance.
        (tsplib_text("EUC_2D", ["1 0 0"], problem_type="TOUR"), "TYPE 'TOUR'"),
        # Coordinates that are not numbers.
        (tsplib_text("EUC_2D", ["1 0 zero"]), "'zero' is not a number"),
        # No DIMENSION at all.
        ("NAME : x\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n1 0 0\nEOF\n", "no DIMENSION"),
    ],
)
def test_broken_tsplib_files_are_refused(text: str, message: str) -> None:
    with pytest.raises(FormatError, match=message):
        tsplib_to_instance(text)


def test_tsplib_instance_agents_depot_and_allowed_types() -> None:
    instance = load_instance(DATA / "ten_nodes.tsp", agents=3, depot=4)
    ids = [node["id"] for node in instance["nodes"]]
    assert ids == list(range(1, 11))  # the file's own ids
    assert [n["id"] for n in instance["nodes"] if n["type"] == "DEPOT"] == [4]
    assert [(a["start_node"], a["end_node"]) for a in instance["agents"]] == [(4, 4)] * 3
    # Every node lists the one agent type, so the solver has nothing to warn about.
    (assignment,) = [c for c in instance["constraints"] if c["kind"] == "assignment"]
    assert sorted(item["node"] for item in assignment["items"]) == ids
    assert all(item["types"] == [AGENT_TYPE] for item in assignment["items"])
    # Default depot: the first node. d(1,2) = |(3,4)| = 5.
    default = load_instance(DATA / "ten_nodes.tsp")
    assert default["agents"][0]["start_node"] == 1
    assert default["costs"][AGENT_TYPE][0][1] == 5.0


def test_unknown_depot_is_refused() -> None:
    with pytest.raises(ValueError, match="depot 42"):
        load_instance(DATA / "ten_nodes.tsp", depot=42)


def test_solomon_customers_keep_demand_service_and_window_vehicles_the_capacity() -> None:
    instance = load_instance(DATA / "c101_first6.txt", agents=2)
    costs = instance["costs"][AGENT_TYPE]
    nodes = instance["nodes"]
    assert [node["id"] for node in nodes] == [0, 1, 2, 3, 4, 5, 6]
    # Depot (40,50), customer 1 (45,68): dist = sqrt(25 + 324) = 18.6815, both ways:
    # service is the customer's own duration, not part of the move out of it.
    assert costs[0][1] == costs[1][0] == pytest.approx(18.681541692269406)
    assert costs[5][3] == pytest.approx(1.0)  # (42,65) to (42,66)
    assert "service" not in nodes[0] and "demand" not in nodes[0]
    assert (nodes[1]["demand"], nodes[1]["service"]) == (10, 90)
    assert (nodes[2]["demand"], nodes[2]["service"]) == (30, 90)
    windows = {
        item["node"]: (item["start"], item["end"])
        for c in instance["constraints"]
        if c["kind"] == "timewindow"
        for item in c["items"]
    }
    # The depot's window is the horizon; customer 1 is ready at 912, due at 967.
    assert windows[0] == (0, 1236) and windows[1] == (912, 967)
    assert [agent["capacity"] for agent in instance["agents"]] == [200, 200]


def test_solomon_defaults_to_the_files_vehicle_number_and_can_round() -> None:
    text = (DATA / "c101_first6.txt").read_text()
    instance = solomon_to_instance(text)
    assert len(instance["agents"]) == 25  # "NUMBER CAPACITY / 25 200"
    rounded = solomon_to_instance(text, distances="nint")["costs"][AGENT_TYPE]
    assert rounded[1][0] == 19.0  # nint(18.68)


def test_solomon_file_keeps_crlf_and_has_no_stray_nodes() -> None:
    raw = (DATA / "c101_first6.txt").read_bytes()
    assert b"\r\n" in raw  # the sample keeps the published line endings
    assert len(load_instance(DATA / "c101_first6.txt")["nodes"]) == 7


@pytest.mark.parametrize(
    ("name", "expected"),
    [
        ("ten_nodes.tsp", "tsplib"),
        ("upper_row_5.tsp", "tsplib"),
        ("c101_first6.txt", "solomon"),
        ("four_targets_two_agents.json", "json"),
    ],
)
def test_formats_are_recognised_by_content(name: str, expected: str, tmp_path: Path) -> None:
    # Renamed to a neutral suffix: the content alone decides.
    copy = tmp_path / "instance.dat"
    copy.write_bytes((DATA / name).read_bytes())
    assert detect_format(copy, copy.read_text()) == expected


def test_json_instances_take_no_conversion_options() -> None:
    with pytest.raises(ValueError, match="TSPLIB and Solomon files only"):
        load_instance(DATA / "four_targets_two_agents.json", agents=2)
    instance = load_instance(DATA / "four_targets_two_agents.json")
    assert instance == json.loads((DATA / "four_targets_two_agents.json").read_text())


@pytest.mark.skipif(not SHARED.exists(), reason="benchmark data not present")
@pytest.mark.parametrize(
    ("name", "n"), [("eil51.tsp", 51), ("berlin52.tsp", 52), ("rat99.tsp", 99), ("ch150.tsp", 150)]
)
def test_published_tsplib_files_parse(name: str, n: int) -> None:
    # berlin52 writes integers as 565.0, rat99 indents its lines, ch150 has 10 decimals.
    data = parse_tsplib((SHARED / "tsplib" / name).read_text())
    assert data.ids == list(range(1, n + 1))
    assert data.coords is not None and len(data.coords) == n


# Headers that promise more than the file holds; each child reads one under a memory cap.
LYING_HEADERS = [
    # 81 bytes claiming 200 million nodes: refused by the node limit, and by the file's
    # size when the limit is lifted (200 million node lines take over a gigabyte).
    ("TYPE: TSP\nDIMENSION: 200000000\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n",
     None, "DIMENSION 200000000 is above the limit of 10000 nodes"),
    ("TYPE: TSP\nDIMENSION: 200000000\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n1 0 0\n",
     10**12, "200000000 node lines take at least 1199999999 characters, the file has 81"),
    # 108 bytes claiming a 20,000 x 20,000 matrix; then 4,000 x 4,000, within the limit.
    ("DIMENSION: 20000\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: FULL_MATRIX\n"
     "EDGE_WEIGHT_SECTION\n0 1 1 0\nEOF\n", 10**12, "400000000 weights take at least"),
    ("DIMENSION: 4000\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: UPPER_ROW\n"
     "EDGE_WEIGHT_SECTION\n1 2 3\nEOF\n", None, "7998000 weights take at least 15995999"),
    # A Solomon file with 200 million vehicles (one agent object each).
    ("C101\nVEHICLE\nNUMBER CAPACITY\n200000000 200\nCUSTOMER\n0 40 50 0 0 1236 0\n"
     "1 45 68 10 912 967 90\n", None, "line 4: the vehicle number 200000000 is above the limit"),
]  # fmt: skip


@pytest.mark.parametrize(("text", "max_nodes", "message"), LYING_HEADERS)
def test_lying_headers_are_refused_before_allocating(
    text: str, max_nodes: int | None, message: str, tmp_path: Path
) -> None:
    """A header claiming more nodes than the limit or the file allows is a FormatError
    naming the numbers, raised with no more than 100 MB of memory and without a hang."""
    path = tmp_path / "lying.txt"
    path.write_text(text)
    child = run_capped(
        f"""
        try:
            zelk.load_instance({str(path)!r}, max_nodes={max_nodes!r})
            print("READ")
        except zelk.io.FormatError as error:
            print("REFUSED", error)
        """,
        timeout=60,
    )
    assert child.returncode == 0, child.stderr[-2000:]
    assert child.stdout.startswith(f"REFUSED {path}: "), child.stdout
    assert message in child.stdout


# Numbers that are not finite or too large, in each place a file holds numbers:
# (format, lines of the file, line number, field named).
BAD_NUMBERS = [
    ("tsplib", ["1 0 0", "2 inf 1"], 6, "node 2 x: 'inf' is not a finite number"),
    ("tsplib", ["1 0 0", "2 1 nan"], 6, "node 2 y: 'nan' is not a finite number"),
    # 1e300: its square overflows the Euclidean distance.
    ("tsplib", ["1 0 0", "2 1e300 0"], 6, "node 2 x: '1e300' is beyond the limit of 1e+15"),
    ("tsplib", ["1.5 0 0", "2 1 1"], 5, "node id: '1.5' is not a whole number"),
    ("explicit", ["0 1e300", "1 0"], 6, "EDGE_WEIGHT_SECTION: '1e300' is beyond the limit"),
    ("explicit", ["0 1", "-inf 0"], 7, "EDGE_WEIGHT_SECTION: '-inf' is not a finite number"),
    ("solomon", ["1 45 68 10 912 967 inf"], 5, "SERVICE TIME: 'inf' is not a finite number"),
    ("solomon", ["1 45 1e300 10 912 967 90"], 5, "YCOORD.: '1e300' is beyond the limit"),
    ("solomon", ["1 45 68 10 nan 967 90"], 5, "READY TIME: 'nan' is not a finite number"),
]
HEADS = {
    "tsplib": "TYPE: TSP\nDIMENSION: 2\nEDGE_WEIGHT_TYPE: EUC_2D\nNODE_COORD_SECTION\n",
    "explicit": "TYPE: TSP\nDIMENSION: 2\nEDGE_WEIGHT_TYPE: EXPLICIT\n"
    "EDGE_WEIGHT_FORMAT: FULL_MATRIX\nEDGE_WEIGHT_SECTION\n",
    "solomon": "C101\nNUMBER CAPACITY\n25 200\n0 40 50 0 0 1236 0\n",
}


@pytest.mark.parametrize(("fmt", "lines", "line", "field"), BAD_NUMBERS)
def test_bad_numbers_name_file_line_and_field(
    fmt: str, lines: list[str], line: int, field: str, tmp_path: Path
) -> None:
    path = tmp_path / "numbers.txt"
    path.write_text(HEADS[fmt] + "\n".join(lines) + "\n")
    with pytest.raises(FormatError) as raised:
        load_instance(path)
    assert str(raised.value).startswith(f"{path}: line {line}, {field}")


def test_files_that_are_not_regular_are_refused_at_once(tmp_path: Path) -> None:
    """A device, a FIFO without a writer and a folder are refused without reading or
    waiting, a NUL in the path with ValueError, and a file is read only up to its size."""
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    child = run_capped(
        f"""
        for path in ["/dev/zero", {str(fifo)!r}, {str(tmp_path)!r}, {str(DATA / 'ten_nodes.tsp')!r} + "\\0.json"]:
            try:
                zelk.load_instance(path)
                print("READ")
            except (OSError, ValueError) as error:
                print(type(error).__name__, error)
        """,
        timeout=60,
    )
    assert child.returncode == 0, child.stderr[-2000:]
    assert child.stdout.splitlines() == [
        "OSError [Errno 22] Not a regular file: '/dev/zero'",
        f"OSError [Errno 22] Not a regular file: '{fifo}'",
        f"IsADirectoryError [Errno 21] Is a directory: '{tmp_path}'",
        "ValueError embedded null byte",
    ]


def test_json_that_is_not_utf8_names_the_offset(tmp_path: Path) -> None:
    """Names that differ only in undecodable bytes must not be read as equal names."""
    path = tmp_path / "latin.json"
    path.write_bytes(b'{"agents": [{"type": "\xe9"}, {"type": "\xe8"}]}')
    with pytest.raises(FormatError, match=f"^{path}: not valid UTF-8: byte 0xe9 at offset 22$"):
        load_instance(path)
