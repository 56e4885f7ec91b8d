"""The numpy side of bench_typed: the same operations on the same operands.

    /usr/bin/python3 numpy_side.py DATA_DIR RUNS

Reads the raw operand files bench_typed wrote into DATA_DIR and prints one
line per figure: its name and the seconds of each of RUNS timed runs. Exits 1
when numpy has not loaded OpenBLAS (the matrix figure would mean nothing).
"""
import os
import sys
import time

import numpy as np


def load(data, name, dtype):
    return np.fromfile(os.path.join(data, name), dtype=dtype)


def blas_loaded():
    np.matmul(np.ones((8, 8)), np.ones((8, 8)))
    with open("/proc/self/maps") as maps:
        return any("openblas" in line for line in maps)


def timed(fn, runs, prepare=None):
    times = []
    for _ in range(runs + 1):
        if prepare:
            prepare()
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return times[1:]  # the first run warms caches and pages


def main():
    data, runs = sys.argv[1], int(sys.argv[2])
    if not blas_loaded():
        print("error: numpy did not load OpenBLAS", flush=True)
        sys.exit(1)
    types = {"u8": np.uint8, "i16": np.int16, "i32": np.int32, "i64": np.int64, "f64": np.float64}
    a = {t: load(data, "a_%s.bin" % t, d) for t, d in types.items()}
    b = {t: load(data, "b_%s.bin" % t, d) for t, d in types.items()}
    out = {t: np.empty_like(a[t]) for t in types}
    idx = load(data, "idx.bin", np.int32)
    src = a["f64"][: len(idx)]
    take_out = np.empty(len(idx), dtype=np.float64)
    ma = load(data, "ma.bin", np.float64).reshape(512, 512)
    mb = load(data, "mb.bin", np.float64).reshape(512, 512)
    mo = np.empty((512, 512))
    scratch = {}

    def sorter(key, arr):
        def prepare():
            scratch[key] = arr.copy()
        return prepare

    figures = []
    for t in types:
        figures.append(("add_" + t, lambda t=t: np.add(a[t], b[t], out=out[t]), None))
    figures += [
        ("add_scalar_fresh_u8", lambda: a["u8"] + np.uint8(3), None),
        ("add_scalar_fresh_f64", lambda: a["f64"] + 3.0, None),
        ("mul_i64", lambda: np.multiply(a["i64"], b["i64"], out=out["i64"]), None),
        ("div_f64", lambda: np.divide(a["f64"], b["f64"], out=out["f64"]), None),
        ("idiv_i32", lambda: np.floor_divide(a["i32"], b["i32"], out=out["i32"]), None),
        ("idiv_scalar_i32", lambda: np.floor_divide(a["i32"], np.int32(7), out=out["i32"]), None),
        ("mod_f64", lambda: np.mod(a["f64"], b["f64"], out=out["f64"]), None),
        ("pow2_f64", lambda: np.square(a["f64"], out=out["f64"]), None),
        ("band_u8", lambda: np.bitwise_and(a["u8"], b["u8"], out=out["u8"]), None),
        ("shl_scalar_i32", lambda: np.left_shift(a["i32"], np.int32(3), out=out["i32"]), None),
        ("max_f64", lambda: np.maximum(a["f64"], b["f64"], out=out["f64"]), None),
        ("abs_i32", lambda: np.abs(a["i32"], out=out["i32"]), None),
        ("fill_i32", lambda: out["i32"].fill(7), None),
        ("prefix_i32", lambda: np.cumsum(a["i32"], dtype=np.int32, out=out["i32"]), None),
        ("take_f64", lambda: np.take(src, idx, out=take_out), None),
        ("pow_f64", lambda: np.power(a["f64"], 1.7, out=out["f64"]), None),
        ("matmul_512", lambda: np.matmul(ma, mb, out=mo), None),
        ("sort_i32", lambda: scratch["s"].sort(kind="quicksort"), sorter("s", a["i32"])),
        ("sort_f64", lambda: scratch["s"].sort(kind="quicksort"), sorter("s", a["f64"])),
        ("sort_u8", lambda: scratch["s"].sort(kind="quicksort"), sorter("s", a["u8"])),
    ]
    rows_i32 = a["i32"].reshape(-1, 4)
    rows_f64 = a["f64"].reshape(-1, 16)
    figures += [
        ("sort_rows_i32", lambda: rows_i32[np.argsort(rows_i32[:, 1], kind="quicksort")], None),
        ("sort_rows_f64", lambda: rows_f64[np.argsort(rows_f64[:, 3], kind="quicksort")], None),
    ]
    for name, fn, prepare in figures:
        times = timed(fn, runs, prepare)
        print(name, " ".join("%.9f" % t for t in times), flush=True)


if __name__ == "__main__":
    main()
