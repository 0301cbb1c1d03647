"""Runs the benchmark and writes bench/results.md.

1. Whole runs of spinmap (90 degrees exact, 30 degrees interpolated, 0
   degrees) on full-frame sample files, each interleaved with cp of the same
   file, under /usr/bin/time -v for the peak resident size.
2. The time of each step of a whole run on the 4096 x 4096 file (bench_steps,
   the run's library calls with a clock between them), 90 and 30 degrees
   alternately.
3. The two kernels alone (the Google Benchmark program), interpolation
   through every row kernel variant the processor runs, and the chosen one
   on 1 and 2 threads.
4. The peers on the same frame (peers.py, single-threaded).
5. Replacing the input (the one-file form, flushed to the disk) against
   writing a new file (the two-file form, not flushed), runs alternating.
6. Many files: 1024 x 1024 files through xargs -P 2 with SPINMAP_THREADS=1.
7. The Python module (python_module.py): rotate_file against the spinmap
   program, read against NumPy's fromfile, rotate_files of many files on 1
   and 2 processes.
Whole runs take the default thread count, and on the target frame one
thread (SPINMAP_THREADS=1) as well; with --baseline OLD_SPINMAP an earlier
build of the program runs alternating with them, and the one-thread runs
and the many files are judged against it (else against the figures of the
last sitting before the threads).
Every figure is the median of the runs of one sitting. Kernels and peers are
timed in processor time, whole runs in wall time.
Usage: python3 run.py TOOL_BUILD BENCH_BUILD OUT_DIR RESULTS_MD [--replace-only | --python-only] [--baseline OLD_SPINMAP]
With --replace-only only step 5 runs, with --python-only only step 7, and
its section of RESULTS_MD is written in place.
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
ONE_THREAD = "1 thread"  # the runs of the target frame with SPINMAP_THREADS=1
BASELINE = "earlier build"  # the runs of --baseline's program
MANY_FILES, MANY_SIDE, MANY_PARALLEL, MANY_RUNS = 200, 1024, 2, 3
KERNEL_POINTS = 4096 * 4096
PEER_RUNS = 7
INTERP_ROUNDS = 5

STEP_RUNS = 5
STEPS = ["read", "checks and scans", "points outside", "rotation", "trim", "fiducials", "write", "total"]

# The targets hold for the 4096 x 4096 file; the other sizes are reported.
TARGET_SIDE = 4096
TARGET_RUN_EXACT = 1.6  # whole run at 90 degrees, default threads, x cp
TARGET_RUN_INTERP = 2.0  # whole run at 30 degrees, default threads, x cp
TARGET_MEMORY = {"90 exact": 0.71, "30 interp": 1.36}  # peak resident size, x file size
TARGET_INTERP_VS_OPENCV = 0.3  # interpolation on 2 threads, x OpenCV warpAffine on 1, per point
TARGET_EXACT_VS_NUMPY = 3.0  # quarter turn, times faster than NumPy rot90
# The whole runs (x cp) and the many files (seconds, unknown) of the last
# sitting before the threads, for want of an earlier build to run.
BEFORE_THREADS = {"90 exact": 1.96, "30 interp": 2.75}


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
        # The samples of an earlier run are made anew.
        subprocess.run([os.path.join(tool_build, "tools", "spinmap-sample"), "-Camera", f"{side}x{side}",
                        "-Buckets", "1", "-Overwrite", path], check=True, stdout=subprocess.DEVNULL)
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


def whole_runs(tool_build, out_dir, files, baseline):
    """Each angle on each frame with the default thread count; on the target
    frame also on one thread and with the earlier build, all alternating
    with cp. Rows for the other forms are named "ANGLE, FORM"."""
    spinmap = os.path.join(tool_build, "app", "spinmap")
    rotated = os.path.join(out_dir, "rotated.dat")
    copied = os.path.join(out_dir, "copied.dat")
    rows = []
    for side, runs in SIZES:
        source = files[side]
        size = os.path.getsize(source)
        for name, options in ANGLES:
            forms = [(name, ["env", "-u", "SPINMAP_THREADS", spinmap])]
            if side == TARGET_SIDE:
                forms.append((f"{name}, {ONE_THREAD}", ["env", "SPINMAP_THREADS=1", spinmap]))
                if baseline:
                    forms.append((f"{name}, {BASELINE}", [baseline]))
            measured = alternating(runs, [
                (lambda: remove(rotated), program + options + ["-Overwrite", source, rotated])
                for _, program in forms] + [(lambda: remove(copied), ["cp", source, copied])], out_dir)
            cp_s = measured[-1][0]
            for (form, _), (run_s, peak) in zip(forms, measured):
                rows.append({"side": side, "angle": form, "runs": runs, "bytes": size,
                             "run_s": run_s, "cp_s": cp_s, "peak": peak})
                print(f"  {side} x {side} {form}: run {run_s * 1000:.1f} ms, cp {cp_s * 1000:.1f} ms", flush=True)
    remove(rotated)
    remove(copied)
    return rows


def many_files(tool_build, out_dir, files, baseline):
    """Seconds (median of MANY_RUNS) for MANY_FILES copies of the 1024 x 1024
    sample through xargs -P MANY_PARALLEL at 30 degrees, SPINMAP_THREADS=1,
    for this build and the earlier one alternating (None without one)."""
    folder = os.path.join(out_dir, "many")
    os.makedirs(os.path.join(folder, "rotated"), exist_ok=True)
    names = [f"f{k:03}.dat" for k in range(MANY_FILES)]
    for name in names:
        shutil.copyfile(files[MANY_SIDE], os.path.join(folder, name))
    programs = [os.path.join(tool_build, "app", "spinmap")] + ([baseline] if baseline else [])
    programs = [os.path.abspath(p) for p in programs]  # xargs runs in the files' folder
    times = [[] for _ in programs]
    env = dict(os.environ, SPINMAP_THREADS="1")
    for _ in range(MANY_RUNS):
        for measured, program in zip(times, programs):
            t0 = time.perf_counter()
            subprocess.run(["xargs", "-P", str(MANY_PARALLEL), "-I{}", program, "-Angle", "30", "-Overwrite", "{}",
                            "rotated/{}"], input="\n".join(names), text=True, cwd=folder, env=env, check=True,
                           stdout=subprocess.DEVNULL)
            measured.append(time.perf_counter() - t0)
    shutil.rmtree(folder)
    medians = [statistics.median(t) for t in times]
    return medians[0], (medians[1] if baseline else None)


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


def splice_section(text, section, heading=REPLACE_HEADING):
    """The results text with the section of that heading put in place of an
    earlier one, or before the kernels' section."""
    at = text.find(heading)
    if at >= 0:
        end = text.find("\n## ", at + len(heading))
        return text[:at] + section + ("" if end < 0 else text[end + 1:])
    at = text.find("## Kernels")
    if at < 0:
        return text.rstrip("\n") + "\n\n" + section
    return text[:at] + section + "\n" + text[at:]


PYTHON_RUNS = 7
PYTHON_HEADING = "## The Python module"
TARGET_PYTHON_VS_TOOL = 1.10  # rotate_file, x the spinmap program on the same file


def python_runs(tool_build, out_dir, files):
    """python_module.py on the target-size sample, in Debian's interpreter
    the module is built for."""
    here = os.path.dirname(os.path.abspath(__file__))
    env = dict(os.environ, PYTHONPATH=os.path.join(tool_build, "python"))
    out = subprocess.run(["/usr/bin/python3", os.path.join(here, "python_module.py"), files[TARGET_SIDE],
                          os.path.join(tool_build, "app", "spinmap"),
                          os.path.join(tool_build, "tools", "spinmap-sample"), out_dir, str(PYTHON_RUNS)],
                         check=True, env=env, capture_output=True, text=True).stdout
    return json.loads(out)


def python_section(r):
    side = f"{TARGET_SIDE} x {TARGET_SIDE}"
    lines = [PYTHON_HEADING, "",
             f"spinmap.rotate_file against the spinmap program on the {side} sample ({r['bytes'] / 2**20:.1f} MiB), "
             f"{r['runs']} runs each, alternating, wall time (the program's time includes starting it):", "",
             "| angle | spinmap ms | rotate_file ms | rotate_file / spinmap | target |", "| --- | --- | --- | --- | --- |"]
    for name in ("90 exact", "30 interp"):
        t = r[name]
        ratio = t["module_s"] / t["tool_s"]
        lines.append(f"| {name} | {t['tool_s'] * 1000:.1f} | {t['module_s'] * 1000:.1f} | {ratio:.2f} | "
                     f"<= {TARGET_PYTHON_VS_TOOL:.2f}: {verdict(ratio <= TARGET_PYTHON_VS_TOOL)} |")
    rd = r["read"]
    lines += ["", f"Reading the {side} sample: spinmap.read (the whole file, heights and intensity, into host "
              f"order) against numpy.fromfile of its height block alone ({rd['height_bytes'] / 2**20:.0f} MiB, "
              "big-endian, then to host-order int32):", "",
              "| spinmap.read ms | numpy.fromfile + astype ms | ratio |", "| --- | --- | --- |",
              f"| {rd['read_s'] * 1000:.1f} | {rd['fromfile_s'] * 1000:.1f} | {rd['read_s'] / rd['fromfile_s']:.2f} |"]
    m = r["many"]
    one, two = m["seconds"]["1"], m["seconds"]["2"]
    lines += ["", f"spinmap.rotate_files of {m['files']} files of {m['camera']} ({m['bytes'] / 2**20:.1f} MiB each), "
              f"{m['angle']} degrees, into a folder, on a local pool (median of 3, pool start included):", "",
              "| processes | seconds | files / s | speed-up |", "| --- | --- | --- | --- |",
              f"| 1 | {one:.2f} | {m['files'] / one:.0f} | 1.00 |",
              f"| 2 | {two:.2f} | {m['files'] / two:.0f} | {one / two:.2f} |"]
    return "\n".join(lines) + "\n"


def step_times(bench_build, out_dir, files):
    """Median milliseconds of each step, 90 degrees exact and 30 degrees
    interpolated taken in turn; about the centre, where no point leaves the
    frame, and about (1000, 1000), where many do and every valid point is
    counted."""
    steps = os.path.join(bench_build, "bench", "bench_steps")
    out = os.path.join(out_dir, "steps.dat")
    cases = {"90 exact": ["90", "noi"], "30 interp": ["30"],
             "90 exact, pivot (1000, 1000)": ["90", "noi", "1000,1000"],
             "30 interp, pivot (1000, 1000)": ["30", "1000,1000"]}
    samples = {name: [] for name in cases}
    for i in range(STEP_RUNS + 1):  # the first round warms the page cache
        for name, args in cases.items():
            remove(out)
            line = subprocess.run([steps, files[TARGET_SIDE], out] + args, check=True, capture_output=True,
                                  text=True).stdout
            if i > 0:
                samples[name].append(json.loads(line))
    remove(out)
    return {name: {step: statistics.median(r[step] for r in runs) for step in STEPS}
            for name, runs in samples.items()}


def kernels(bench_build, out_dir, only=None):
    out = os.path.join(out_dir, "kernels.json")
    subprocess.run([os.path.join(bench_build, "bench", "bench_kernels"), "--benchmark_out=" + out,
                    "--benchmark_out_format=json"] + ([f"--benchmark_filter={only}"] if only else []),
                   check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        data = json.load(f)
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    result = {"variants": []}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        ns = b["cpu_time"] * scale[b["time_unit"]] / KERNEL_POINTS
        if b["name"].startswith("BM_matrix_resample_interp_30_threads/"):
            # Timed on the wall: the threads' processor times add up.
            threads = int(b["name"].split("/")[1])
            result.setdefault("threads", {})[threads] = b["real_time"] * scale[b["time_unit"]] / KERNEL_POINTS
            continue
        if "rotate_exact" in b["name"]:
            result["exact"] = ns
            result["exact_reps"] = b.get("repetitions")
            continue
        # BM_matrix_resample_interp_30/VARIANT[/chosen]/...
        parts = b["name"].split("/")
        variant = {"name": parts[1], "ns": ns, "chosen": len(parts) > 2 and parts[2] == "chosen",
                   "reps": b.get("repetitions")}
        result["variants"].append(variant)
        if variant["chosen"]:
            result["interp"] = ns
            result["interp_name"] = variant["name"]
    return result


def peers(*which):
    env = dict(os.environ)
    env.pop("OPENBLAS_CORETYPE", None)
    env.pop("OPENBLAS_L2_SIZE", None)
    env.update(OMP_NUM_THREADS="1", OPENBLAS_NUM_THREADS="1")
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run(["/usr/bin/python3", os.path.join(here, "peers.py"), str(PEER_RUNS), *which], check=True,
                         env=env, capture_output=True, text=True).stdout
    return json.loads(out)


def interp_rounds(bench_build, out_dir):
    """Our chosen interpolation kernel on 2 threads (wall time) and OpenCV's
    warpAffine on 1 (processor time) and 2 (wall time) in alternating
    rounds: (ours, OpenCV, OpenCV on 2 threads) ns per point of each round. The two kernels are
    timed a minute or more apart in the tables above, and this host's speed
    drifts by a third over such a time."""
    rounds = []
    for _ in range(INTERP_ROUNDS):
        ours = kernels(bench_build, out_dir, "BM_matrix_resample_interp_30_threads/2")["threads"][2]
        opencv = peers("opencv")
        rounds.append((ours, opencv["opencv_warpAffine"], opencv["opencv_warpAffine_2_threads"]))
    return rounds


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def verdict(ok):
    return "met" if ok else "NOT met"


def report(rows, steps, k, p, rounds, many, load):
    lines = ["# Benchmark results", "",
             f"- CPU: {cpu_model()} ({os.cpu_count()} cores); load average (1 minute) at the start "
             f"of the sitting: {load:.1f}",
             f"- Date: {datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}",
             f"- Peers: {p['versions']}; BLAS: {p['blas']}",
             "- Every figure is the median of the runs of one sitting; whole runs and steps in wall time, "
             "kernels and peers in processor time.", "",
             "## Whole runs against cp of the same file", "",
             "| frame | angle | runs | file MiB | spinmap ms | cp ms | run / cp | peak MiB | peak / file |",
             "| --- | --- | --- | --- | --- | --- | --- | --- | --- |"]
    for r in rows:
        lines.append(f"| {r['side']} x {r['side']} | {r['angle']} | {r['runs']} | {r['bytes'] / 2**20:.1f} | "
                     f"{r['run_s'] * 1000:.1f} | {r['cp_s'] * 1000:.1f} | {r['run_s'] / r['cp_s']:.2f} | "
                     f"{r['peak'] / 2**20:.1f} | {r['peak'] / r['bytes']:.2f} |")
    lines += ["", f"## A whole run by step, {TARGET_SIDE} x {TARGET_SIDE} ({STEP_RUNS} runs each, ms)", "",
              "Where the run makes the turned rows as it writes them (the interpolations about the centre), "
              "the write holds the making of the rows, and the rotation only finds their window.", "",
              "| angle | " + " | ".join(STEPS) + " |", "| --- " * (len(STEPS) + 1) + "|"]
    for name, t in steps.items():
        lines.append(f"| {name} | " + " | ".join(f"{t[step]:.1f}" for step in STEPS) + " |")
    lines += ["", "## Kernels on a 4096 x 4096 frame (ns per result point, one thread unless stated)", "",
              "| kernel | ns / point |", "| --- | --- |",
              f"| matrix_rotate_exact, quarter turn ({k['exact_reps']} repetitions) | {k['exact']:.2f} |"]
    for v in k["variants"]:
        chosen = ", chosen on this processor" if v["chosen"] else ""
        lines.append(f"| matrix_resample_interp, 30 degrees, {v['name']} rows ({v['reps']} repetitions{chosen}) | "
                     f"{v['ns']:.2f} |")
    for threads, ns in sorted(k.get("threads", {}).items()):
        lines.append(f"| matrix_resample_interp, 30 degrees, {k['interp_name']} rows, {threads} thread(s), "
                     f"wall time | {ns:.2f} |")
    lines += [f"| NumPy rot90 + ascontiguousarray, int32 ({PEER_RUNS} runs) | {p['numpy_rot90']:.2f} |",
              f"| OpenCV warpAffine INTER_LINEAR, float32, 30 degrees ({PEER_RUNS} runs) | "
              f"{p['opencv_warpAffine']:.2f} |",
              f"| SciPy ndimage.affine_transform order=1, float32, 30 degrees ({PEER_RUNS} runs) | "
              f"{p['scipy_affine_transform']:.2f} |", ""]

    def at_target(angle):
        return next(r for r in rows if r["side"] == TARGET_SIDE and r["angle"] == angle)

    exact, interp = at_target("90 exact"), at_target("30 interp")
    ratios = [ours / opencv for ours, opencv, _ in rounds]
    vs_opencv = statistics.median(ratios)
    vs_opencv2 = statistics.median(ours / opencv2 for ours, _, opencv2 in rounds)
    vs_numpy = p["numpy_rot90"] / k["exact"]
    lines += [f"## Targets ({TARGET_SIDE} x {TARGET_SIDE} file, this sitting)", "",
              "| target | figure | verdict |", "| --- | --- | --- |"]
    for row, target in ((exact, TARGET_RUN_EXACT), (interp, TARGET_RUN_INTERP)):
        ratio = row["run_s"] / row["cp_s"]
        lines.append(f"| whole run, {row['angle']}, default threads, <= {target} x cp | {ratio:.2f} x cp | "
                     f"{verdict(ratio <= target)} |")
    for angle in ("90 exact", "30 interp"):
        one = at_target(f"{angle}, {ONE_THREAD}")
        ratio = one["run_s"] / one["cp_s"]
        if baseline_rows := [r for r in rows if r["side"] == TARGET_SIDE and r["angle"] == f"{angle}, {BASELINE}"]:
            before, against = baseline_rows[0]["run_s"] / baseline_rows[0]["cp_s"], "the earlier build this sitting"
        else:
            before, against = BEFORE_THREADS[angle], "the last sitting before the threads"
        lines.append(f"| whole run, {angle}, SPINMAP_THREADS=1, no slower than before ({before:.2f} x cp, "
                     f"{against}) | {ratio:.2f} x cp | {verdict(ratio <= before)} |")
    for angle, target in TARGET_MEMORY.items():
        row = at_target(angle)
        peak = row["peak"] / row["bytes"]
        lines.append(f"| peak memory, {angle}, <= {target} x file size | {peak:.2f} x | {verdict(peak <= target)} |")
    lines += [f"| interpolation on 2 threads <= {TARGET_INTERP_VS_OPENCV} x OpenCV warpAffine on 1 | "
              f"{k['interp_name']} against OpenCV in {len(rounds)} alternating rounds: median {vs_opencv:.2f} x "
              "(rounds " + ", ".join(f"{o:.2f}/{c:.2f}" for o, c, _ in rounds) + " ns/point); against OpenCV "
              f"on 2 threads {vs_opencv2:.2f} x | {verdict(vs_opencv <= TARGET_INTERP_VS_OPENCV)} |",
              f"| quarter turn >= {TARGET_EXACT_VS_NUMPY:g} x faster than NumPy rot90 | {vs_numpy:.2f} x | "
              f"{verdict(vs_numpy >= TARGET_EXACT_VS_NUMPY)} |"]
    now, before = many
    lines.append(f"| {MANY_FILES} files of {MANY_SIDE} x {MANY_SIDE}, 30 degrees, xargs -P {MANY_PARALLEL}, "
                 f"SPINMAP_THREADS=1, no slower than the earlier build | {now:.2f} s"
                 + (f" against {before:.2f} s | {verdict(now <= before)} |" if before is not None
                    else " (no earlier build given: --baseline) | not measured |"))
    lines.append("")
    # Reading the input and writing the output are the part of a run that
    # no rotation can avoid: set against cp, they show how near a target is
    # to the floor of the way the file is read and written. Only the quarter
    # turn about the centre writes a frame already turned (in its own
    # array); an interpolation's write makes its rows too.
    lines += ["## Reading and writing alone against cp (steps above, this sitting)", "",
              "| angle | read + write ms | cp ms | read + write / cp | other steps ms |", "| --- | --- | --- | --- | --- |"]
    for name, row in (("90 exact", exact),):
        t = steps[name]
        io = t["read"] + t["write"]
        lines.append(f"| {name} | {io:.1f} | {row['cp_s'] * 1000:.1f} | {io / (row['cp_s'] * 1000):.2f} | "
                     f"{t['total'] - io:.1f} |")
    lines.append("")
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


def update_section(results, section, heading):
    """One section of RESULTS_MD written anew, the rest kept."""
    with open(results) as f:
        text = f.read()
    with open(results, "w") as f:
        f.write(splice_section(text, section, heading))
    print()
    print(section)


def main():
    tool_build, bench_build, out_dir, results = sys.argv[1:5]
    os.makedirs(out_dir, exist_ok=True)
    load = os.getloadavg()[0]
    print("Generating sample files", flush=True)
    files = make_samples(tool_build, out_dir)
    if "--replace-only" in sys.argv[5:]:
        print("Replacing the input", flush=True)
        update_section(results, replace_section(replace_runs(tool_build, out_dir, files)), REPLACE_HEADING)
        return
    if "--python-only" in sys.argv[5:]:
        print("The Python module", flush=True)
        update_section(results, python_section(python_runs(tool_build, out_dir, files)), PYTHON_HEADING)
        return
    baseline = sys.argv[sys.argv.index("--baseline") + 1] if "--baseline" in sys.argv[5:] else None
    print("Whole runs", flush=True)
    rows = whole_runs(tool_build, out_dir, files, baseline)
    print("Steps", flush=True)
    steps = step_times(bench_build, out_dir, files)
    print("Kernels", flush=True)
    k = kernels(bench_build, out_dir)
    print("Peers", flush=True)
    p = peers()
    print("Interpolation against OpenCV, alternating", flush=True)
    rounds = interp_rounds(bench_build, out_dir)
    print("Many files", flush=True)
    many = many_files(tool_build, out_dir, files, baseline)
    print("Replacing the input", flush=True)
    text = splice_section(report(rows, steps, k, p, rounds, many, load),
                          replace_section(replace_runs(tool_build, out_dir, files)))
    print("The Python module", flush=True)
    text = splice_section(text, python_section(python_runs(tool_build, out_dir, files)), PYTHON_HEADING)
    notes = kept_notes(results)
    with open(results, "w") as f:
        f.write(text + notes)
    print()
    print(text)


if __name__ == "__main__":
    main()
