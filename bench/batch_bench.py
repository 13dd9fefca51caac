#!/usr/bin/python3
"""Whole-process timings of pelloran-batch beside the same jobs in Pillow
(bench/pillow_batch.py), on the demo archives in tmpfs: the median of
several runs and the peak resident memory of each process.

    bench/batch_bench.py build/release/src/pelloran-batch build/release/tools/make-demo-archives
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUNS = 7


def measure(args, prepare=None):
    """Median wall time in ms and the largest peak resident set in MiB."""
    times, peaks = [], []
    for _ in range(RUNS):
        if prepare:
            prepare()
        start = time.perf_counter()
        child = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        times.append((time.perf_counter() - start) * 1000)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"batch_bench: {' '.join(args)} failed")
        peaks.append(usage.ru_maxrss / 1024)
    return statistics.median(times), max(peaks)


def main():
    tool, make_demo = sys.argv[1], sys.argv[2]
    root = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        demo = os.path.join(root, "demo")
        os.mkdir(demo)
        subprocess.run([make_demo, demo], check=True, stdout=subprocess.DEVNULL)
        large = os.path.join(demo, "GRPFACES.S10")
        pack = os.path.join(root, "pack")
        subprocess.run([tool, "export", large, pack], check=True, stdout=subprocess.DEVNULL)
        # Every record of the pack differs from the archive it goes into, so
        # every record is written.
        target = os.path.join(root, "target")

        def fresh_target():
            shutil.rmtree(target, ignore_errors=True)
            os.mkdir(target)
            subprocess.run([make_demo, target], check=True, stdout=subprocess.DEVNULL)
            for name in ("GRPFACES.S10", "GRPFACET.S10"):
                with open(os.path.join(target, name), "r+b") as f:
                    f.seek(37260 if name.endswith("S.S10") else 20244)
                    f.write(bytes(6144 * 832 if name.endswith("S.S10") else 2304 * 832))

        pillow = [sys.executable, os.path.join(HERE, "pillow_batch.py")]
        out = os.path.join(root, "out")
        clear = lambda: shutil.rmtree(out, ignore_errors=True)
        rows = [
            ("export 832 pairs, BMP", 50, 4,
             measure([tool, "export", large, out], clear),
             measure(pillow + ["export", large, out, "bmp"], clear)),
            ("export 832 pairs, PNG", None, 2.5,
             measure([tool, "export", large, out, "--format", "png"], clear),
             measure(pillow + ["export", large, out, "png"], clear)),
            ("import 832 pairs, journaled", 250, 2,
             measure([tool, "import", os.path.join(target, "GRPFACES.S10"), pack], fresh_target),
             measure(pillow + ["import", os.path.join(target, "GRPFACES.S10"), pack],
                     fresh_target)),
            ("contact sheet, 832 large", 300, None,
             measure([tool, "sheet", large, os.path.join(root, "sheet.png")]), None),
        ]
        print(f"{'job':30} {'ours':>9} {'peak':>8} {'Pillow':>9} {'peak':>8} {'ratio':>6}  target")
        for name, limit, factor, ours, theirs in rows:
            line = f"{name:30} {ours[0]:7.1f}ms {ours[1]:6.1f}MB"
            if theirs:
                line += f" {theirs[0]:7.1f}ms {theirs[1]:6.1f}MB {theirs[0] / ours[0]:5.1f}x"
            else:
                line += " " * 32
            goals = []
            if limit:
                goals.append(f"<= {limit} ms")
            if factor:
                goals.append(f">= {factor}x")
            print(line + "  " + ", ".join(goals))
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    main()
