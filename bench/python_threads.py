#!/usr/bin/env python3
"""Thread scaling of the Python module: the same extractions and comparisons with a pool of 1
and of 2 (or more) threads. Usage: PYTHONPATH=build/python/module bench/python_threads.py FOLDER
[THREADS...]; FOLDER holds prints the `ridgeline` command reads."""
import pathlib
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import ridgeline


def timed(threads, work, items):
    with ThreadPoolExecutor(max_workers=threads) as pool:
        start = time.perf_counter()
        results = list(pool.map(work, items))
        return time.perf_counter() - start, results


def main():
    folder = pathlib.Path(sys.argv[1])
    counts = [int(n) for n in sys.argv[2:]] or [1, 2]
    files = sorted(p for p in folder.iterdir() if p.is_file())
    images = [p.read_bytes() for p in files]
    _, features = timed(1, ridgeline.extract, images)  # warm up
    pairs = [(a, b) for a in features[:16] for b in features[:16]]
    print(f"{len(images)} extractions, {len(pairs)} comparisons")
    base = None
    for threads in counts:
        extract_s, _ = timed(threads, ridgeline.extract, images)
        compare_s, _ = timed(threads, lambda pair: ridgeline.compare(*pair), pairs)
        base = base or (extract_s, compare_s)
        print(f"{threads} thread(s): extract {extract_s:.2f} s ({base[0] / extract_s:.2f}x), "
              f"compare {compare_s:.2f} s ({base[1] / compare_s:.2f}x)")


if __name__ == "__main__":
    main()
