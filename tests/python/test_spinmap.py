"""The Python module spinmap on files made by spinmap-sample.

Run by ctest (tests/python/CMakeLists.txt), which names the module just built
(PYTHONPATH), the build folder and the programs in the environment.
"""

import errno
import gc
import logging
import os
import pickle
import re
import subprocess
import sys

import numpy as np
import pytest

import spinmap

BUILD = os.environ["SPINMAP_BUILD"]
SAMPLE = os.environ["SPINMAP_SAMPLE"]
INFO = os.environ["SPINMAP_INFO"]
TOOL = os.environ["SPINMAP_TOOL"]

# The module under test is the one just built, for this interpreter.
assert spinmap.__file__.startswith(os.path.join(BUILD, "python", "spinmap")), spinmap.__file__


def make_sample(folder, name, *options):
    path = folder / name
    subprocess.run([SAMPLE, *options, str(path)], check=True)
    return path


# The blocks as the file holds them, big-endian after the header.
def file_blocks(data, header_bytes, frames, window):
    _, _, width, height = window
    intensity_count = frames * width * height
    intensity = np.frombuffer(data, ">u2", intensity_count, header_bytes).reshape(frames, height, width)
    heights = np.frombuffer(data, ">i4", width * height, header_bytes + 2 * intensity_count)
    return intensity, heights.reshape(height, width)


@pytest.mark.parametrize("file_format, header_bytes, phase_res", [(1, 834, 1), (2, 834, 2), (3, 4096, 1)])
@pytest.mark.parametrize("frames", [0, 1, 2, 3])
def test_read_then_write_gives_the_same_bytes(tmp_path, file_format, header_bytes, phase_res, frames):
    window = (5, 7, 40, 30)
    source = make_sample(tmp_path, "in.dat", "-Camera", "64x48", "-Window", "5,7,40,30", "-Format",
                         str(file_format), "-Buckets", str(frames))
    data = source.read_bytes()
    m = spinmap.read(source)

    assert m.height_window == window
    assert m.header["PhaseRes"] == phase_res
    assert m.header["Format3Mark"] == (3 if file_format == 3 else 0)
    intensity, heights = file_blocks(data, header_bytes, frames, window)
    assert m.heights.dtype == np.int32 and m.heights.shape == (30, 40)
    assert np.array_equal(m.heights, heights)
    assert np.array_equal(m.valid, heights < 2147483640)
    if frames == 0:
        assert m.intensity is None and m.intensity_window is None
    else:
        assert m.intensity.dtype == np.uint16 and m.intensity.shape == (frames, 30, 40)
        assert np.array_equal(m.intensity, intensity)
        assert m.intensity_window == window

    spinmap.write(tmp_path / "out.dat", m)
    assert (tmp_path / "out.dat").read_bytes() == data


def test_heights_and_header_as_spinmap_info_reports_them(tmp_path):
    path = make_sample(tmp_path, "part.dat", "-Camera", "96x80", "-Dropouts", "40", "-Fiducials", "4")
    report = subprocess.run([INFO, str(path)], check=True, capture_output=True, text=True).stdout
    value = dict(re.findall(r"^(.*?) *= (.*)$", report, re.MULTILINE))
    m = spinmap.read(path)
    valid = m.valid
    nm = m.heights_nm()

    assert valid.sum() == int(value["Valid Points"])
    rows, columns = np.nonzero(valid)
    x, y = m.height_window[:2]
    assert (x + columns.min(), y + rows.min(), columns.max() - columns.min() + 1, rows.max() - rows.min() + 1) == tuple(
        int(value["Valid Window" + k]) for k in ("X", "Y", "Width", "Height"))
    assert "%.10g (%g nm)" % (m.heights[valid].min(), np.nanmin(nm)) == value["Height Minimum"]
    assert "%.10g (%g nm)" % (m.heights[valid].max(), np.nanmax(nm)) == value["Height Maximum"]
    assert np.array_equal(np.isnan(nm), ~valid)
    assert "%g nm per count" % m.height_scale == value["HeightScale"]

    h = m.header
    assert "%d %d %g um %g um %g um %g %g nm %g" % (
        h["CameraWidth"], h["CameraHeight"], h["PixelWidth"] * 1e6, h["PixelHeight"] * 1e6, h["CameraRes"] * 1e6,
        h["IntfScaleFactor"], h["WavelengthIn"] * 1e9, h["ObliquityFactor"]) == " ".join(
        value[k] for k in ("CameraWidth", "CameraHeight", "PixelWidth", "PixelHeight", "CameraRes",
                           "IntfScaleFactor", "WavelengthIn", "ObliquityFactor"))
    assert h["TimeStamp"] == 1700000000
    for group, count in (("A", 4), ("B", 3)):
        points = m.fiducials["ABCD".index(group)]
        assert h["Fiducial" + "Count" + group] == count
        assert "%d points: %s" % (count, " ".join("(%g, %g)" % tuple(p) for p in points[:count])) == \
            value["Fiducials Group " + group]
        assert np.isnan(points[count:]).all()
    assert np.isnan(m.fiducials[2:]).all()


def test_changed_heights_are_written(tmp_path):
    source = make_sample(tmp_path, "in.dat", "-Camera", "32x24", "-Surface", "coords", "-Aperture", "rect",
                         "-Dropouts", "0")
    m = spinmap.read(source)
    m.heights = np.flipud(m.heights)
    m.heights[0, 0] = 2147483640
    with pytest.raises(ValueError, match="24 rows by 32 columns"):
        m.heights = np.zeros((32, 24), np.int32)
    spinmap.write(source, m, overwrite=True)

    again = spinmap.read(source)
    expected = np.arange(32) + 1000 * np.arange(24)[::-1, None]
    expected[0, 0] = 2147483640
    assert np.array_equal(again.heights, expected)
    assert not again.valid[0, 0]


def test_arrays_outlive_their_measurement(tmp_path):
    m = spinmap.read(make_sample(tmp_path, "a.dat", "-Camera", "64x48", "-Buckets", "2"))
    heights, intensity = m.heights, m.intensity
    assert np.shares_memory(heights, m.heights) and np.shares_memory(intensity, m.intensity)
    kept_heights, kept_intensity = heights.copy(), intensity.copy()
    del m
    gc.collect()
    # Another file of the same size takes the memory of any block released.
    other = spinmap.read(make_sample(tmp_path, "b.dat", "-Camera", "64x48", "-Buckets", "2", "-Surface", "plane"))
    assert not np.array_equal(other.heights, kept_heights)
    assert np.array_equal(heights, kept_heights) and np.array_equal(intensity, kept_intensity)


def damaged(data):
    return {
        "empty": b"",
        "bad magic": b"\x6f\x03\x1b\x88" + data[4:],
        "cut in the header": data[:600],
        "cut in the heights": data[:-10],
    }


@pytest.mark.parametrize("case, code, name", [
    ("empty", 353, "ERR_PREMATURE_EOF"),
    ("bad magic", 328, "ERR_NOT_A_DATA_FILE"),
    ("cut in the header", 353, "ERR_PREMATURE_EOF"),
    ("cut in the heights", 134, "ERR_CORRUPT_DATA_FILE"),
])
def test_a_damaged_file_raises_the_library_error(tmp_path, case, code, name):
    path = tmp_path / "damaged.dat"
    path.write_bytes(damaged(make_sample(tmp_path, "good.dat", "-Camera", "32x24").read_bytes())[case])
    with pytest.raises(spinmap.Error) as raised:
        spinmap.read(path)
    e = raised.value
    assert (e.code, e.name, str(e)) == (code, name, 'Error reading input data file "%s": %s' % (path, name))
    again = pickle.loads(pickle.dumps(e))
    assert (type(again), again.code, again.name, str(again)) == (spinmap.Error, code, name, str(e))


def test_failures_of_the_files_themselves(tmp_path):
    missing = tmp_path / "missing.dat"
    with pytest.raises(FileNotFoundError) as raised:
        spinmap.read(missing)
    assert (raised.value.errno, raised.value.filename) == (errno.ENOENT, str(missing))

    with pytest.raises(spinmap.Error) as raised:
        spinmap.read(tmp_path)
    assert (raised.value.name, str(raised.value)) == ("ERR_CANT_OPEN_FILE", 'Cannot access input data file "%s"' % tmp_path)

    m = spinmap.read(make_sample(tmp_path, "in.dat", "-Camera", "32x24"))
    existing = tmp_path / "existing.dat"
    existing.write_bytes(b"keep me")
    with pytest.raises(FileExistsError):
        spinmap.write(existing, m)
    assert existing.read_bytes() == b"keep me"

    with pytest.raises(spinmap.Error) as raised:
        spinmap.write(tmp_path / "no folder" / "out.dat", m)
    assert raised.value.name == "ERR_CANT_CREATE_FILE"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["existing.dat", "in.dat"]


# make install: where the module goes under a prefix, and that it works from
# there.
@pytest.mark.parametrize("prefix, folder", [
    ("/usr", "lib/python3/dist-packages"),
    ("/opt/spinmap", "lib/python%d.%d/dist-packages" % sys.version_info[:2]),
])
def test_installed_module(tmp_path, prefix, folder):
    root = tmp_path / "root"
    # CMake is no program of ours: the sanitizer runtimes a sanitizer build
    # preloads into the interpreter stay out of it.
    cmake_environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix, "--component", "python"], check=True,
                   capture_output=True, env=dict(cmake_environment, DESTDIR=str(root)))
    package = root / (prefix + "/" + folder).lstrip("/") / "spinmap"
    assert sorted(p.name for p in package.iterdir()) == sorted(
        ["__init__.py", "__init__.pyi", "py.typed", os.path.basename(spinmap._spinmap.__file__)])
    sample = make_sample(tmp_path, "s.dat", "-Camera", "32x24")
    shown = subprocess.run(
        [sys.executable, "-c", "import spinmap, sys; print(spinmap.__file__, spinmap.read(sys.argv[1]).heights.shape)",
         str(sample)], check=True, capture_output=True, text=True,
        env=dict(os.environ, PYTHONPATH=str(package.parent))).stdout
    assert shown == "%s (24, 32)\n" % (package / "__init__.py")


# spinmap.info against spinmap-info's printed report: every value printed
# back in the report's format gives the report's text.
@pytest.mark.parametrize("angle, pivot", [(None, None), (30, (10, 20)), (90, (10, 20.5)), (45, (5000, 5000))])
def test_info_gives_the_values_spinmap_info_prints(tmp_path, angle, pivot):
    path = make_sample(tmp_path, "part.dat", "-Camera", "96x80", "-Dropouts", "40", "-Fiducials", "4")
    options = [] if angle is None else ["-Angle", str(angle)] + ([] if pivot is None else ["-Pivot", "%g,%g" % pivot])
    report = subprocess.run([INFO, *options, str(path)], check=True, capture_output=True, text=True).stdout
    printed = dict(re.findall(r"^(.*?) *= (.*)$", report, re.MULTILINE))
    v = spinmap.info(path, angle, pivot)

    shown = {
        "InputFile": '"%s"' % v["InputFile"],
        "CameraWidth": "%d" % v["CameraWidth"], "CameraHeight": "%d" % v["CameraHeight"],
        "PixelWidth": "%g um" % v["PixelWidth"], "PixelHeight": "%g um" % v["PixelHeight"],
        "CameraRes": "%g um" % v["CameraRes"], "IntfScaleFactor": "%g" % v["IntfScaleFactor"],
        "WavelengthIn": "%g nm" % v["WavelengthIn"], "ObliquityFactor": "%g" % v["ObliquityFactor"],
        "PhaseRes": v["PhaseRes"], "PryxRes": "1/%g fr" % v["PryxRes"],
        "HeightScale": "%g nm per count" % v["HeightScale"],
        "Valid Points": "%d" % v["Valid Points"], "Intensity Frames": "%d" % v["Intensity Frames"],
    }
    for prefix in ("Height", "Intensity", "Valid") + (("Output",) if angle is not None and v["Failure"] is None else ()):
        shown.update(zip((prefix + " Window" + k for k in ("X", "Y", "Width", "Height")),
                         ("%d" % n for n in v[prefix + " Window"])))
    for key in ("Minimum", "Maximum", "PeakToValley", "Mean", "RMS"):
        shown["Height " + key] = "%.10g (%g nm)" % (v["Height " + key], v["Height %s nm" % key])
    for group in "AB":
        points = v["Fiducials Group " + group]
        shown["Fiducials Group " + group] = "%d points: %s" % (len(points), " ".join("(%g, %g)" % p for p in points))
    assert v["Fiducials Group C"] == v["Fiducials Group D"] == []
    if angle is not None:
        shown.update({"Angle": "%g" % v["Angle"], "PivotX": "%g" % v["PivotX"], "PivotY": "%g" % v["PivotY"],
                      "Pivot": v["Pivot"], "Rotation": v["Rotation"], "With NoInterp": v["With NoInterp"],
                      "Points Outside": "%d of %d valid points would fall outside the camera frame" % (
                          v["Points Outside"], v["Valid Points"])})
        if v["Failure"] is None:
            shown["Output Points"] = "%d" % v["Output Points"]
        else:
            assert v["Output Window"] is None and v["Failure"] in v["Rotation"]
    assert shown == {k: printed[k] for k in shown} and set(printed) - set(shown) == {"TimeStamp"}
    assert v["TimeStamp"] == 1700000000
    assert (angle, v.get("Method")) in ((None, None), (30, "interpolate"), (90, "interpolate"), (45, "interpolate"))


@pytest.mark.parametrize("angle, pivot, message", [
    (float("nan"), None, 'Invalid angle "nan"'),
    (float("inf"), None, 'Invalid angle "inf"'),
    (1e39, None, 'Invalid angle "1e+39"'),
    (30, (1, float("nan")), 'Invalid pivot coordinates "1,nan"'),
    (30, (1, 2, 3), 'Invalid pivot coordinates "(1, 2, 3)"'),
    (None, (1, 2), "The pivot needs an angle"),
])
def test_bad_angles_and_pivots_raise_value_error(tmp_path, angle, pivot, message):
    path = make_sample(tmp_path, "part.dat", "-Camera", "32x24")
    with pytest.raises(ValueError) as raised:
        spinmap.info(path, angle, pivot)
    assert str(raised.value) == message


# spinmap turns a sample by a known angle about a known pivot; aligning the
# result to the original recovers the inverse turn about the same pivot.
@pytest.mark.parametrize("angle, pivot", [(17, (30, 40)), (-90, (47.5, 39.5)), (123.25, (10, 70))])
def test_align_recovers_a_known_turn(tmp_path, angle, pivot):
    original = make_sample(tmp_path, "ref.dat", "-Camera", "96x80", "-Fiducials", "4")
    turned = tmp_path / "turned.dat"
    subprocess.run([TOOL, "-Angle", str(angle), "-Pivot", "%g,%g" % pivot,
                    str(original), str(turned)], check=True, capture_output=True)
    a = spinmap.align(spinmap.read(turned), spinmap.read(original))
    assert a["angle"] == pytest.approx(-angle, abs=1e-5)
    assert a["pivot"] == pytest.approx(pivot, abs=1e-4)
    assert (a["pairs"], a["pairs_per_group"]) == (7, {"A": 4, "B": 3})
    assert a["largest_px"] < 1e-4 and a["rms_um"] == pytest.approx(a["rms_px"] * 12.5, rel=1e-6)
    # The suggested run, carried out, brings the fiducials onto the reference's.
    words = a["command"].split()
    assert words[:5] == ["spinmap", "-Angle", repr(a["angle"]).removesuffix(".0"), "-Pivot", "%r,%r" % a["pivot"]]
    assert words[5:] == ['"%s"' % turned, '"%s"' % (tmp_path / "turned_aligned.dat")]
    subprocess.run([TOOL, *words[1:5], str(turned), str(tmp_path / "back.dat")],
                   check=True, capture_output=True)
    back, reference = spinmap.read(tmp_path / "back.dat").fiducials, spinmap.read(original).fiducials
    assert np.nanmax(np.abs(back - reference)) < 0.01

    with pytest.raises(ValueError, match='Cannot align "%s" to "%s": ' % (original, original)):
        spinmap.align(spinmap.read(original), spinmap.read(original))


# ---- The rotation, against the spinmap program ---------------------------------------

def spinmap_run(*arguments):
    """spinmap's exit status, standard output and its message after "ERROR: " or "WARNING: "."""
    done = subprocess.run([TOOL, *map(str, arguments)], capture_output=True, text=True, stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, re.sub(r"^Spinmap\n(ERROR|WARNING): ", "", done.stderr).rstrip("\n")


def tool_options(angle, pivot, interpolate):
    return ["-Angle", repr(angle)] + ([] if pivot is None else ["-Pivot", "%r,%r" % pivot]) + \
        ([] if interpolate else ["-NoInterp"])


# The report but for the output's name and the clock's time.
def comparable_report(text):
    return [line for line in text.splitlines() if not line.startswith(("OutputFile", "Wrote file"))
            and not re.fullmatch(r"\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}", line)]


@pytest.mark.parametrize("angle, pivot, interpolate, method", [
    (90, None, True, "move values"),
    (-90, (20, 15.5), False, "move values"),  # the pivot moved half a pixel, as -NoInterp does
    (180, (10.25, 3), True, "interpolate"),
    (30, None, True, "interpolate"),
    (-47.5, (30.25, 20.75), True, "interpolate"),
    (720, (5, 5), True, "unchanged"),
    (30, (0, 0), True, "interpolate"),  # points turned off the camera frame
])
def test_rotate_and_rotate_file_write_the_bytes_spinmap_writes(tmp_path, angle, pivot, interpolate, method):
    source = make_sample(tmp_path, "in.dat", "-Camera", "64x48", "-Window", "3,2,50,40", "-Buckets", "2",
                         "-Fiducials", "4")
    original = source.read_bytes()
    status, verbose, warning = spinmap_run(*tool_options(angle, pivot, interpolate), "-Verbose", source,
                                           tmp_path / "tool.dat")
    assert status == 0
    expected = (tmp_path / "tool.dat").read_bytes()

    report = spinmap.rotate_file(source, tmp_path / "two.dat", angle=angle, pivot=pivot, interpolate=interpolate)
    assert (tmp_path / "two.dat").read_bytes() == expected
    assert comparable_report(report["report"]) + ["Done"] == comparable_report(verbose)  # "Done" is the entry's
    lost = report["points_outside"]
    assert warning == ("%d of %d valid points fell outside the camera frame and are not in the output file" % (
        lost, report["points_in"]) if lost else "")
    assert (report["method"], report["Angle"], report["pivot"]) == (method, angle, (report["PivotX"],
                                                                                    report["PivotY"]))
    assert (report["points_in"], report["points_out"]) == (report["Input Points"], report["Output Points"])
    assert report["output_window"] == tuple(report["Output Window" + k] for k in ("X", "Y", "Width", "Height"))
    assert (report["InputFile"], report["CameraRes"]) == (str(source), "12.5 um")

    m = spinmap.read(source)
    turned = spinmap.rotate(m, angle, pivot, interpolate)
    spinmap.write(tmp_path / "memory.dat", turned)
    assert (tmp_path / "memory.dat").read_bytes() == expected
    assert turned.height_window == report["output_window"] and turned.path is None
    assert np.shares_memory(turned.intensity, m.intensity) and not np.shares_memory(turned.heights, m.heights)
    assert spinmap.write(tmp_path / "again.dat", m) is None and (tmp_path / "again.dat").read_bytes() == original

    with pytest.raises(FileExistsError):
        spinmap.rotate_file(source, angle=angle, pivot=pivot, interpolate=interpolate)
    assert source.read_bytes() == original
    spinmap.rotate_file(source, angle=angle, pivot=pivot, interpolate=interpolate, overwrite=True)
    assert source.read_bytes() == expected


# Each failure as spinmap words it, and nothing written.
@pytest.mark.parametrize("case, options, name", [
    ("no valid points", ["-Angle", "30"], None),
    ("NoInterp at 45 degrees", ["-Angle", "45", "-NoInterp"], None),
    ("NoInterp about a quarter pixel", ["-Angle", "90", "-Pivot", "10.25,3", "-NoInterp"], None),
    ("no result", ["-Angle", "45", "-Pivot", "30000,30000"], None),
    ("damaged", ["-Angle", "30"], "ERR_NOT_A_DATA_FILE"),
])
def test_failures_raise_spinmap_error_with_the_tools_message(tmp_path, case, options, name):
    source = make_sample(tmp_path, "in.dat", "-Camera", "64x48", *(
        ["-Valid", "0,0,0,0"] if case == "no valid points" else []))
    if case == "damaged":
        source.write_bytes(b"\x6f\x03\x1b\x88" + source.read_bytes()[4:])
    status, _, message = spinmap_run(*options, source, tmp_path / "tool.dat")
    assert status == 1 and message
    angle = float(options[1])
    pivot = tuple(map(float, options[3].split(","))) if "-Pivot" in options else None
    interpolate = "-NoInterp" not in options
    with pytest.raises(spinmap.Error) as raised:
        spinmap.rotate_file(source, tmp_path / "out.dat", angle=angle, pivot=pivot, interpolate=interpolate)
    assert str(raised.value) == message and raised.value.code > 0 and raised.value.name.startswith("ERR_")
    if name == "ERR_NOT_A_DATA_FILE":
        assert (raised.value.code, raised.value.name) == (328, name)
    else:
        with pytest.raises(spinmap.Error) as in_memory:
            spinmap.rotate(spinmap.read(source), angle, pivot, interpolate)
        assert (str(in_memory.value), in_memory.value.code) == (message, raised.value.code)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.dat"]


def test_bad_arguments_of_the_rotation(tmp_path):
    source = make_sample(tmp_path, "in.dat", "-Camera", "32x24")
    m = spinmap.read(source)
    for call in (lambda: spinmap.rotate(m, float("nan")),
                 lambda: spinmap.rotate_file(source, tmp_path / "o.dat", angle=float("nan")),
                 lambda: spinmap.rotate_files([source], angle=float("nan"), output_dir=tmp_path)):
        with pytest.raises(ValueError, match='^Invalid angle "nan"$'):
            call()
    with pytest.raises(ValueError, match='^Invalid pivot coordinates "inf,2"$'):
        spinmap.rotate(m, 30, (float("inf"), 2))
    with pytest.raises(ValueError, match="needs overwrite=True"):
        spinmap.rotate_files([source], angle=30)
    with pytest.raises(ValueError, match='^"%s" and "%s" would both be written to "%s"$' % ((source,) * 3)):
        spinmap.rotate_files([source, str(source)], angle=30, overwrite=True)
    with pytest.raises(FileNotFoundError):
        spinmap.rotate_file(tmp_path / "missing.dat", tmp_path / "o.dat", angle=30)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.dat"]


# ---- Many files ------------------------------------------------------------------------

def many_files(folder, count, bad):
    folder.mkdir()
    paths = []
    for n in range(count):
        path = make_sample(folder, "part%02d.dat" % n, "-Camera", "64x48", "-Fiducials", "3", "-TimeStamp",
                           str(1700000000 + n), "-Dropouts", str(n))
        if n in bad:
            path.write_bytes(path.read_bytes()[:700])  # cut in the header
        paths.append(path)
    return paths


# (Debian's distributed starts its event loop in a way tornado now deprecates.)
@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
@pytest.mark.parametrize("where", ["dask cluster", "local pool"])
def test_rotate_files_on_a_cluster_and_a_local_pool(tmp_path, where):
    bad = {7, 31}
    paths = many_files(tmp_path / "in", 50 if where == "dask cluster" else 12, bad)
    expected = {}
    for path in paths:
        status, _, message = spinmap_run("-Angle", "30", "-Overwrite", path, tmp_path / "tool.dat")
        expected[str(path)] = (tmp_path / "tool.dat").read_bytes() if status == 0 else message
    if where == "dask cluster":
        distributed = pytest.importorskip("distributed")
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
                distributed.Client(cluster) as client:
            summary = spinmap.rotate_files(paths, angle=30, output_dir=tmp_path / "out", client=client,
                                           progress=False)
        written = {str(tmp_path / "in" / p.name): p.read_bytes() for p in (tmp_path / "out").iterdir()}
    else:
        originals = {str(p): p.read_bytes() for p in paths}
        summary = spinmap.rotate_files(paths, angle=30, overwrite=True, workers=2, progress=False)
        written = {str(p): p.read_bytes() for p in paths if p.read_bytes() != originals[str(p)]}
        assert sorted(p.name for p in (tmp_path / "in").iterdir()) == sorted(p.name for p in paths)

    failed = {str(paths[n]) for n in bad if n < len(paths)}
    assert summary["failed"] == {p: expected[p] for p in sorted(failed)}
    assert all(m == "Error reading input data file: ERR_PREMATURE_EOF" for m in summary["failed"].values())
    assert summary["rotated"] == [str(p) for p in paths if str(p) not in failed]
    assert written == {p: expected[p] for p in summary["rotated"]}
