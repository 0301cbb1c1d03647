"""Runs the benchmark and writes bench/results.md.

1. Whole runs of spinmap (90 degrees exact, 30 degrees interpolated, 0
   degrees) on full-frame sample files, each interleaved with cp of the same
   file, under /usr/bin/time -v for the peak resident size.
2. The two kernels alone (the Google Benchmark program).
3. The peers on the same frame (peers.py, single-threaded).
4. Replacing the input (the one-file form, flushed to the disk) against
   writing a new file (the two-file form, not flushed), runs alternating.
Every figure is the median of the runs of one sitting.
Usage: python3 run.py TOOL_BUILD BENCH_BUILD OUT_DIR RESULTS_MD [--replace-only]
With --replace-only only step 4 runs, and its section of RESULTS_MD is
written in place.
"""
import datetime
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

SIZES = [(1024, 15), (4096, 9), (8192, 5)]  # frame side, runs
ANGLES = [("90 exact", ["-Angle", "90", "-NoInterp"]),
          ("30 interp", ["-Angle", "30"]),
          ("0", ["-Angle", "0"])]
KERNEL_POINTS = 4096 * 4096
PEER_RUNS = 7

TARGET_EXACT_NS = 2.0
TARGET_EXACT_VS_NUMPY = 3.0
TARGET_RUN_EXACT = 2.5
TARGET_RUN_INTERP = 3.5
TARGET_MEMORY = 2.5


def timed_run(command, out_dir):
    """Wall time in seconds and peak resident bytes of one command."""
    report = os.path.join(out_dir, "time.txt")
    t0 = time.perf_counter()
    subprocess.run(["/usr/bin/time", "-v", "-o", report] + command, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    seconds = time.perf_counter() - t0
    with open(report) as f:
        for line in f:
            if "Maximum resident set size" in line:
                return seconds, int(line.rsplit(":", 1)[1]) * 1024
    raise RuntimeError("no maximum resident size in " + report)


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def make_samples(tool_build, out_dir):
    files = {}
    for side, _ in SIZES:
        path = os.path.join(out_dir, f"sample-{side}.dat")
        subprocess.run([os.path.join(tool_build, "tools", "spinmap-sample"), "-Camera", f"{side}x{side}",
                        "-Buckets", "1", path], check=True, stdout=subprocess.DEVNULL)
        files[side] = path
    return files


def alternating(runs, steps, out_dir):
    """Times the (prepare, command) steps in turn, runs + 1 rounds of them;
    the first round warms the page cache and is dropped. For each step, the
    median seconds and the median peak resident bytes of its command."""
    kept = [[] for _ in steps]
    for i in range(runs + 1):
        for measured, (prepare, command) in zip(kept, steps):
            prepare()
            if i > 0:
                measured.append(timed_run(command, out_dir))
            else:
                timed_run(command, out_dir)
    return [(statistics.median(t for t, _ in m), statistics.median(p for _, p in m)) for m in kept]


def whole_runs(tool_build, out_dir, files):
    spinmap = os.path.join(tool_build, "app", "spinmap")
    rotated = os.path.join(out_dir, "rotated.dat")
    copied = os.path.join(out_dir, "copied.dat")
    rows = []
    for side, runs in SIZES:
        source = files[side]
        size = os.path.getsize(source)
        for name, options in ANGLES:
            (run_s, peak), (cp_s, _) = alternating(runs, [
                (lambda: remove(rotated), [spinmap] + options + ["-Overwrite", source, rotated]),
                (lambda: remove(copied), ["cp", source, copied])], out_dir)
            rows.append({"side": side, "angle": name, "runs": runs, "bytes": size,
                         "run_s": run_s, "cp_s": cp_s, "peak": peak})
            print(f"  {side} x {side} {name}: run {run_s * 1000:.1f} ms, cp {cp_s * 1000:.1f} ms", flush=True)
    remove(rotated)
    remove(copied)
    return rows


REPLACE_SIZES = [(1024, 15), (4096, 9), (8192, 5)]  # frame side, runs
REPLACE_ANGLE = ["-Angle", "90", "-NoInterp"]
REPLACE_HEADING = "## Replacing the input against writing a new file"


def replace_runs(tool_build, out_dir, files):
    """The one-file form on a fresh copy of the sample against the two-file
    form into a new file; the copy is made before the timing starts."""
    spinmap = os.path.join(tool_build, "app", "spinmap")
    rotated = os.path.join(out_dir, "rotated.dat")
    work = os.path.join(out_dir, "in-place.dat")
    rows = []

    def fresh_copy(source):
        shutil.copyfile(source, work)
        subprocess.run(["sync"], check=True)

    for side, runs in REPLACE_SIZES:
        source = files[side]
        (new_s, _), (same_s, _) = alternating(runs, [
            (lambda: remove(rotated), [spinmap] + REPLACE_ANGLE + ["-Overwrite", source, rotated]),
            (lambda: fresh_copy(source), [spinmap] + REPLACE_ANGLE + ["-Overwrite", work])], out_dir)
        rows.append({"side": side, "runs": runs, "bytes": os.path.getsize(source), "new_s": new_s, "same_s": same_s})
        print(f"  {side} x {side}: new file {new_s * 1000:.1f} ms, one-file form {same_s * 1000:.1f} ms", flush=True)
    remove(rotated)
    remove(work)
    return rows


def replace_section(rows):
    lines = [REPLACE_HEADING, "",
             "Quarter turn without interpolation. The two-file form writes a new file and does not flush it;",
             "the one-file form replaces the input, flushing the result before the rename and the folder",
             "after it. Each one-file run starts from a fresh copy of the sample, written to the disk by",
             "sync before the timing.", "",
             "| frame | runs | file MiB | new file ms | one-file form ms | difference ms | ratio |",
             "| --- | --- | --- | --- | --- | --- | --- |"]
    for r in rows:
        lines.append(f"| {r['side']} x {r['side']} | {r['runs']} | {r['bytes'] / 2**20:.1f} | "
                     f"{r['new_s'] * 1000:.1f} | {r['same_s'] * 1000:.1f} | "
                     f"{(r['same_s'] - r['new_s']) * 1000:.1f} | {r['same_s'] / r['new_s']:.2f} |")
    return "\n".join(lines) + "\n"


def splice_section(text, section):
    """The results text with the replacement section put in place of an
    earlier one, or before the kernels' section."""
    at = text.find(REPLACE_HEADING)
    if at >= 0:
        end = text.find("\n## ", at + len(REPLACE_HEADING))
        return text[:at] + section + ("" if end < 0 else text[end + 1:])
    at = text.find("## Kernels")
    if at < 0:
        return text.rstrip("\n") + "\n\n" + section
    return text[:at] + section + "\n" + text[at:]


def kernels(bench_build, out_dir):
    out = os.path.join(out_dir, "kernels.json")
    subprocess.run([os.path.join(bench_build, "bench", "bench_kernels"), "--benchmark_out=" + out,
                    "--benchmark_out_format=json"], check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        data = json.load(f)
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    result = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            ns = b["real_time"] * scale[b["time_unit"]]
            key = "exact" if "rotate_exact" in b["name"] else "interp"
            result[key] = ns / KERNEL_POINTS
            result[key + "_reps"] = b.get("repetitions")
    return result


def peers():
    env = dict(os.environ)
    env.pop("OPENBLAS_CORETYPE", None)
    env.pop("OPENBLAS_L2_SIZE", None)
    env.update(OMP_NUM_THREADS="1", OPENBLAS_NUM_THREADS="1")
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run(["/usr/bin/python3", os.path.join(here, "peers.py"), str(PEER_RUNS)], check=True,
                         env=env, capture_output=True, text=True).stdout
    return json.loads(out)


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def verdict(ok):
    return "met" if ok else "NOT met"


def report(rows, k, p):
    lines = ["# Benchmark results", "",
             f"- CPU: {cpu_model()} ({os.cpu_count()} cores)",
             f"- Date: {datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}",
             f"- Peers: {p['versions']}; BLAS: {p['blas']}",
             "- Every figure is the median of the runs of one sitting.", "",
             "## Whole runs against cp of the same file", "",
             "| frame | angle | runs | file MiB | spinmap ms | cp ms | run / cp | peak MiB | peak / file |",
             "| --- | --- | --- | --- | --- | --- | --- | --- | --- |"]
    for r in rows:
        lines.append(f"| {r['side']} x {r['side']} | {r['angle']} | {r['runs']} | {r['bytes'] / 2**20:.1f} | "
                     f"{r['run_s'] * 1000:.1f} | {r['cp_s'] * 1000:.1f} | {r['run_s'] / r['cp_s']:.2f} | "
                     f"{r['peak'] / 2**20:.1f} | {r['peak'] / r['bytes']:.2f} |")
    lines += ["", "## Kernels on a 4096 x 4096 frame (ns per result point, single thread)", "",
              "| kernel | ns / point |", "| --- | --- |",
              f"| matrix_rotate_exact, quarter turn ({k['exact_reps']} repetitions) | {k['exact']:.2f} |",
              f"| matrix_resample_interp, 30 degrees ({k['interp_reps']} repetitions) | {k['interp']:.2f} |",
              f"| NumPy rot90 + ascontiguousarray, int32 ({PEER_RUNS} runs) | {p['numpy_rot90']:.2f} |",
              f"| OpenCV warpAffine INTER_LINEAR, float32, 30 degrees ({PEER_RUNS} runs) | "
              f"{p['opencv_warpAffine']:.2f} |",
              f"| SciPy ndimage.affine_transform order=1, float32, 30 degrees ({PEER_RUNS} runs) | "
              f"{p['scipy_affine_transform']:.2f} |", ""]

    exact_runs = [r for r in rows if r["angle"] == "90 exact"]
    interp_runs = [r for r in rows if r["angle"] == "30 interp"]
    worst_exact = max(exact_runs, key=lambda r: r["run_s"] / r["cp_s"])
    worst_interp = max(interp_runs, key=lambda r: r["run_s"] / r["cp_s"])
    worst_memory = max(rows, key=lambda r: r["peak"] / r["bytes"])
    speedup = p["numpy_rot90"] / k["exact"]

    def ratio(r):
        return f"{r['run_s'] / r['cp_s']:.2f} x cp at {r['side']} x {r['side']}"

    lines += ["## Targets", "", "| target | figure | verdict |", "| --- | --- | --- |",
              f"| exact kernel <= {TARGET_EXACT_NS} ns/point | {k['exact']:.2f} ns/point | "
              f"{verdict(k['exact'] <= TARGET_EXACT_NS)} |",
              f"| exact kernel >= {TARGET_EXACT_VS_NUMPY:g}x faster than NumPy rot90 | {speedup:.2f}x | "
              f"{verdict(speedup >= TARGET_EXACT_VS_NUMPY)} |",
              f"| interpolation no slower than OpenCV warpAffine | {k['interp']:.2f} vs "
              f"{p['opencv_warpAffine']:.2f} ns/point ({k['interp'] / p['opencv_warpAffine']:.2f}x) | "
              f"{verdict(k['interp'] <= p['opencv_warpAffine'])} |",
              f"| whole run, exact, <= {TARGET_RUN_EXACT} x cp | worst {ratio(worst_exact)} | "
              f"{verdict(worst_exact['run_s'] / worst_exact['cp_s'] <= TARGET_RUN_EXACT)} |",
              f"| whole run, 30 degrees, <= {TARGET_RUN_INTERP} x cp | worst {ratio(worst_interp)} | "
              f"{verdict(worst_interp['run_s'] / worst_interp['cp_s'] <= TARGET_RUN_INTERP)} |",
              f"| peak memory <= {TARGET_MEMORY} x file size | worst {worst_memory['peak'] / worst_memory['bytes']:.2f}"
              f" x at {worst_memory['side']} x {worst_memory['side']} {worst_memory['angle']} | "
              f"{verdict(worst_memory['peak'] / worst_memory['bytes'] <= TARGET_MEMORY)} |", ""]
    return "\n".join(lines)


def kept_notes(results):
    """The hand-written notes at the end of an earlier results file, from its
    "## Notes" heading on, so that a new sitting keeps them ("" if none)."""
    if not os.path.exists(results):
        return ""
    with open(results) as f:
        earlier = f.read()
    at = earlier.find("\n## Notes")
    return earlier[at:] if at >= 0 else ""


def main():
    tool_build, bench_build, out_dir, results = sys.argv[1:5]
    os.makedirs(out_dir, exist_ok=True)
    print("Generating sample files", flush=True)
    files = make_samples(tool_build, out_dir)
    if "--replace-only" in sys.argv[5:]:
        print("Replacing the input", flush=True)
        section = replace_section(replace_runs(tool_build, out_dir, files))
        with open(results) as f:
            text = f.read()
        with open(results, "w") as f:
            f.write(splice_section(text, section))
        print()
        print(section)
        return
    print("Whole runs", flush=True)
    rows = whole_runs(tool_build, out_dir, files)
    print("Kernels", flush=True)
    k = kernels(bench_build, out_dir)
    print("Peers", flush=True)
    p = peers()
    print("Replacing the input", flush=True)
    text = splice_section(report(rows, k, p), replace_section(replace_runs(tool_build, out_dir, files)))
    notes = kept_notes(results)
    with open(results, "w") as f:
        f.write(text + notes)
    print()
    print(text)


if __name__ == "__main__":
    main()
