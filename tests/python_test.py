"""The Python module edgeseg against the command: the same labels, pixels,
files, messages and statuses; every input it must refuse; the GIL released;
edgeseg.run on a Dask cluster; and pip's install from the source tree.

Run by CTest (Python.*) with Debian's /usr/bin/python3 and pytest, the built
package on PYTHONPATH and EDGESEG_TOOL naming the built command. Dask, venv
and wheel missing skip their tests, unless EDGESEG_REQUIRE_READERS is set.
"""
import contextlib
import filecmp
import importlib.util
import os
import pathlib
import pickle
import re
import shutil
import subprocess
import sys
import threading
import time
import warnings

import numpy
import pytest

import edgeseg

SOURCE = pathlib.Path(__file__).resolve().parent.parent
GOLDEN = SOURCE / "tests" / "golden"
TOOL = os.environ["EDGESEG_TOOL"]
SUFFIXES = ("", "_In.bmp", "_Reg.bmp", "_Grad.bmp")


def need(module, debian):
    if importlib.util.find_spec(module):
        return
    if os.environ.get("EDGESEG_REQUIRE_READERS"):
        pytest.fail(f"{module} is missing, and this run requires every tool")
    pytest.skip(f"{module} is missing (Debian: apt-get install {debian})")


def read_text_image(path):
    """The command's reading: numbers are runs of digits, one row a line,
    values above 65535 taken as 65535."""
    lines = pathlib.Path(path).read_bytes().split(b"\0")[0].split(b"\n")[:-1]
    return numpy.array([[min(int(n), 65535) for n in re.findall(rb"[0-9]+", line)] for line in lines], numpy.uint16)


def bmp_rgb(path):
    data = pathlib.Path(path).read_bytes()
    width, height = (int.from_bytes(data[at:at + 4], "little") for at in (18, 22))
    bgrx = numpy.frombuffer(data, numpy.uint8, offset=54).reshape(height, width, 4)
    return bgrx[::-1, :, 2::-1]


def expect_the_commands_files(image, base):
    result = edgeseg.segment(image)
    assert numpy.array_equal(result.labels, read_text_image(base)), base
    assert result.regions == result.labels.max()
    drawn = edgeseg.pictures(image, pickle.loads(pickle.dumps(result)))
    for name in ("In", "Reg", "Grad"):
        assert numpy.array_equal(drawn[name], bmp_rgb(f"{base}_{name}.bmp")), name


def golden_cases():
    return sorted(p.name for p in GOLDEN.iterdir() if p.is_dir())


@pytest.mark.parametrize("case", golden_cases())
def test_golden_cases_give_the_commands_files(case, tmp_path, capfd):
    folder = GOLDEN / case
    source = folder / "input.txt" if (folder / "input.txt").exists() else SOURCE / "examples" / f"{case}.txt"
    reports = (folder / "stderr.txt").exists()
    with pytest.warns(RuntimeWarning, match="sqrt: DOMAIN error") if reports else no_warning():
        image = read_text_image(source)
        expect_the_commands_files(image, folder / case)
        assert numpy.isnan(edgeseg.segment(image).stats.std_dev) == reports
    capfd.readouterr()
    assert edgeseg.run(pathlib.Path(source), str(tmp_path / case)) is None
    out, err = capfd.readouterr()
    assert out == "" and err == ((folder / "stderr.txt").read_bytes().decode() if reports else "")
    for suffix in SUFFIXES:
        assert filecmp.cmp(tmp_path / f"{case}{suffix}", folder / f"{case}{suffix}", shallow=False), suffix


@contextlib.contextmanager
def no_warning():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        yield


def blocks_image(rng, width, height, count=6):
    """Bright rectangles of random sizes on a noisy ground."""
    image = rng.integers(0, 60, (height, width), dtype=numpy.uint16)
    for _ in range(count):
        x, y = rng.integers(0, width - 4), rng.integers(0, height - 4)
        image[y:y + rng.integers(4, 20), x:x + rng.integers(4, 20)] += numpy.uint16(rng.integers(500, 4000))
    return image


@pytest.mark.parametrize("seed,width,height", [(1, 37, 23), (2, 5, 61), (3, 101, 7), (4, 129, 77)])
def test_random_images_give_the_commands_files(seed, width, height, tmp_path):
    image = blocks_image(numpy.random.default_rng(seed), width, height)
    numpy.savetxt(tmp_path / "in.txt", image, fmt="%d")
    subprocess.run([TOOL, tmp_path / "in.txt", tmp_path / "res"], check=True)
    expect_the_commands_files(image, tmp_path / "res")


BASE = blocks_image(numpy.random.default_rng(7), 45, 33)
HIGH = numpy.where(BASE > 1000, BASE.astype(numpy.int64) * 50000 % (2**31), BASE)


def misaligned(image):
    raw = numpy.zeros(image.size * 2 + 1, numpy.uint8)
    array = raw[1:].view(numpy.uint16).reshape(image.shape)
    array[...] = image
    return array


@pytest.mark.parametrize("layout,image,expected", [
    ("Fortran-ordered", numpy.asfortranarray(BASE), BASE),
    ("row-sliced", numpy.vstack([BASE, BASE])[::2], numpy.vstack([BASE, BASE])[::2]),
    ("negative strides", BASE[::-1, ::-1], BASE[::-1, ::-1].copy()),
    ("misaligned", misaligned(BASE), BASE),
    ("byte-swapped", BASE.astype(">u2"), BASE),
    ("int64", BASE.astype(numpy.int64), BASE),
    ("list", BASE.tolist(), BASE),
    ("uint32 above 65535", HIGH.astype(numpy.uint32), numpy.minimum(HIGH, 65535)),
    ("int64 above 65535", HIGH, numpy.minimum(HIGH, 65535)),
])
def test_every_layout_gives_the_labels_of_c_ordered_uint16(layout, image, expected):
    assert numpy.array_equal(edgeseg.segment(image).labels, edgeseg.segment(expected.astype(numpy.uint16)).labels)


@pytest.mark.parametrize("image,error,cause", [
    (numpy.ones((8, 8), bool), TypeError, "bool"),
    (numpy.ones((8, 8)), TypeError, "float64"),
    (numpy.ones((8, 8), complex), TypeError, "complex"),
    (numpy.ones((8, 8), object), TypeError, "object"),
    ([[1, 2], [3]], TypeError, "not an image"),
    (numpy.ones(64, numpy.uint16), ValueError, "1 dimensions"),
    (numpy.ones((4, 4, 4), numpy.uint16), ValueError, "3 dimensions"),
    (numpy.ones((3, 40), numpy.uint16), ValueError, "3 x 40"),
    (numpy.ones((40, 3), numpy.uint16), ValueError, "40 x 3"),
    (numpy.broadcast_to(numpy.uint16(1), (65536, 32768)), ValueError, "at most 2147483647"),
    (numpy.full((8, 8), -1, numpy.int8), ValueError, "negative value -1"),
    (numpy.full((8, 8), 2**31, numpy.uint32), ValueError, "value 2147483648 above"),
])
def test_bad_images_are_refused_naming_the_cause(image, error, cause):
    labels = numpy.broadcast_to(numpy.uint16(0), getattr(image, "shape", (1,)))
    result = edgeseg.Result(labels, 0, 0.0, edgeseg.segment(BASE).stats)
    for call in (edgeseg.segment, lambda image: edgeseg.pictures(image, result)):
        with pytest.raises(error, match=re.escape(cause)):
            call(image)


def test_more_than_65535_regions_raise_error_254():
    side = 256 * 8 + 2
    y, x = numpy.mgrid[0:side, 0:side]
    bright = (x >= 2) & (y >= 2) & ((x - 2) % 8 < 6) & ((y - 2) % 8 < 6) & (x < side - 2) & (y < side - 2)
    with pytest.raises(edgeseg.Error, match="more than 65535 regions") as raised:
        edgeseg.segment(numpy.where(bright, 1000, 0).astype(numpy.uint16))
    assert raised.value.status == 254


@pytest.mark.parametrize("write,outbase,message,status", [
    (None, "out", "Input file does not exists", 255),
    ("1 2 3 4\n5 6 7\n", "out", "Wrong input file format", 255),
    ("1 2 3 4\n" * 4, "missing/out", "Execution error", 254),
])
def test_run_failures_raise_the_commands_message_and_status(write, outbase, message, status, tmp_path, capfd):
    if write is not None:
        (tmp_path / "in.txt").write_text(write)
    with pytest.raises(edgeseg.Error) as raised:
        edgeseg.run(tmp_path / "in.txt", tmp_path / outbase)
    again = pickle.loads(pickle.dumps(raised.value))
    assert (again.message, again.status, str(again)) == (message, status, message)
    assert capfd.readouterr() == ("", "")


def test_other_threads_run_while_segment_works():
    # A grid of bright lines on noise: about a quarter of a second's work.
    image = numpy.random.default_rng(3).integers(0, 60, (6000, 6000), dtype=numpy.uint16)
    image[::24] += 1500
    image[:, ::24] += 1500
    count = [0]
    stop = threading.Event()

    def counter():
        while not stop.is_set():
            count[0] += 1

    thread = threading.Thread(target=counter)
    thread.start()
    while count[0] == 0:
        time.sleep(0.001)
    before, start = count[0], time.perf_counter()
    edgeseg.segment(image)
    seconds, during = time.perf_counter() - start, count[0] - before
    stop.set()
    thread.join()
    assert seconds >= 0.1 and during > 1000, (seconds, during)


def test_dask_workers_run_edgeseg_run_on_many_files(tmp_path):
    need("distributed", "python3-distributed")
    from dask.distributed import Client, LocalCluster
    inputs = []
    for seed in range(11):
        inputs.append(tmp_path / f"in{seed}.txt")
        numpy.savetxt(inputs[-1], blocks_image(numpy.random.default_rng(seed), 30 + seed, 20 + 2 * seed), fmt="%d")
        subprocess.run([TOOL, inputs[-1], tmp_path / f"tool{seed}"], check=True)
    inputs.append(tmp_path / "bad.txt")
    inputs[-1].write_text("1 2 3 4\n1 2\n")
    outbases = [str(tmp_path / f"dask{i}") for i in range(len(inputs))]
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        assert os.getpid() not in client.run(os.getpid).values()
        futures = client.map(edgeseg.run, [str(i) for i in inputs], outbases)
        for seed, future in enumerate(futures[:-1]):
            assert future.result() is None
            for suffix in SUFFIXES:
                assert filecmp.cmp(f"{outbases[seed]}{suffix}", tmp_path / f"tool{seed}{suffix}", shallow=False)
        with pytest.raises(edgeseg.Error) as raised:
            futures[-1].result()
    assert (raised.value.message, raised.value.status) == ("Wrong input file format", 255)


def test_pip_installs_into_a_fresh_virtual_environment(tmp_path):
    need("ensurepip", "python3-venv")
    need("wheel", "python3-wheel")
    need("setuptools", "python3-setuptools")
    tree = tmp_path / "source"
    shutil.copytree(SOURCE, tree, ignore=shutil.ignore_patterns("build", ".git", "*.egg-info"))
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", tmp_path / "venv"], check=True)
    python = tmp_path / "venv" / "bin" / "python"
    subprocess.run([python, "-m", "pip", "install", "-q", "--no-build-isolation", "."], cwd=tree, check=True,
                   env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"})
    check = ("import edgeseg, importlib.metadata, numpy, sys; "
             "assert edgeseg.__file__.startswith(sys.prefix), edgeseg.__file__; "
             "assert importlib.metadata.version('edgeseg') == edgeseg.__version__; "
             f"print(edgeseg.segment(numpy.loadtxt({str(SOURCE / 'examples' / 'cells.txt')!r}, 'uint16')).regions)")
    found = subprocess.run([python, "-c", check], cwd=tmp_path, check=True, capture_output=True, text=True,
                           env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"})
    assert found.stdout == "8\n"
