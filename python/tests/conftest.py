"""Shared fixtures: the command-line tool, synthetic prints it writes, the real prints beside the
tree (tests that need them skip without them), and a small PNG reader for turning a file into the
numpy array a caller would hand over."""
import json
import os
import pathlib
import struct
import subprocess
import zlib

import numpy as np
import pytest

HERE = pathlib.Path(__file__).resolve().parent


def shared_dir():
    return pathlib.Path(os.environ.get("RIDGELINE_SHARED_DIR", HERE.parents[2] / "shared"))


@pytest.fixture(scope="session")
def cli():
    path = os.environ.get("RIDGELINE_CLI")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("the ridgeline command is not built (RIDGELINE_CLI)")

    def run(*args):
        done = subprocess.run([path, *map(str, args)], capture_output=True, text=True, timeout=120)
        return done.returncode, done.stdout, done.stderr

    def run_json(*args):
        code, out, err = run(args[0], "--json", *args[1:])
        return code, json.loads(out) if out.strip() else None, err

    run.json = run_json
    return run


@pytest.fixture(scope="session")
def synthetic(cli, tmp_path_factory):
    """Two fingers, two impressions each, as PNG files: 1_1, 1_2, 2_1, 2_2."""
    out = tmp_path_factory.mktemp("synth")
    code, _, err = cli("synth", "--out", out, "--fingers", 2, "--impressions", 2, "--seed", 7)
    assert code == 0, err
    files = sorted(out.glob("*.png"))
    assert len(files) == 4
    return {"_".join(str(int(part)) for part in f.stem.split("_")): f for f in files}


@pytest.fixture(scope="session")
def real_prints():
    folder = shared_dir() / "data" / "fvc2002" / "DB1_B"
    if not folder.is_dir():
        pytest.skip(f"no real prints at {folder}")
    return folder


def read_png_grey(path):
    """An 8-bit grey, non-interlaced PNG as a 2-D uint8 array."""
    data = pathlib.Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos : pos + 8])
        body = data[pos + 8 : pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, colour, interlace) == (8, 0, 0), "only 8-bit grey, not interlaced"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    image = np.zeros((height, width), dtype=np.int32)
    previous = np.zeros(width, dtype=np.int32)
    for y in range(height):
        line = raw[y * (width + 1) : (y + 1) * (width + 1)]
        kind, row = line[0], np.frombuffer(line[1:], dtype=np.uint8).astype(np.int32)
        out = np.zeros(width, dtype=np.int32)
        for x in range(width):
            a = out[x - 1] if x else 0
            b = previous[x]
            c = previous[x - 1] if x else 0
            if kind == 0:
                p = 0
            elif kind == 1:
                p = a
            elif kind == 2:
                p = b
            elif kind == 3:
                p = (a + b) // 2
            else:
                e = a + b - c
                pa, pb, pc = abs(e - a), abs(e - b), abs(e - c)
                p = a if pa <= pb and pa <= pc else b if pb <= pc else c
            out[x] = (row[x] + p) & 0xFF
        image[y] = previous = out
    return image.astype(np.uint8)


def pgm_bytes(image):
    height, width = image.shape
    return f"P5\n{width} {height}\n255\n".encode() + np.ascontiguousarray(image).tobytes()
