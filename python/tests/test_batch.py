"""jpg.batch.convert over a tree of 40 files on a LocalCluster of two worker
processes writes what the same conversion run here writes, file for file."""
import io
import os
import pickle
from pathlib import Path

import numpy
import pytest
from PIL import Image

import jpg
import jpg.batch
from conftest import photo, read_netpbm

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    """40 JPEG files in nested folders: colour and grey, baseline and
    progressive, one cut short, one that is no JPEG file at all."""
    root = tmp_path_factory.mktemp("photos")
    for i in range(40):
        folder = root / ["", "a", "a/b", "c"][i % 4]
        folder.mkdir(parents=True, exist_ok=True)
        pixels = photo(60 + 7 * i, 90 + 5 * i, channels=1 if i % 5 == 0 else 3, seed=i)
        out = io.BytesIO()
        Image.fromarray(pixels).save(out, format="JPEG", quality=70 + i % 25, progressive=i % 3 == 0)
        data = out.getvalue()
        if i == 7:
            data = data[:len(data) * 2 // 3]
        if i == 8:
            data = b"not a JPEG file"
        (folder / f"photo{i:02d}.{'JPG' if i % 6 == 0 else 'jpg'}").write_bytes(data)
    (root / "notes.txt").write_text("not a picture")
    return root


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        assert len(client.scheduler_info()["workers"]) == 2
        yield client


def outputs(results, out_dir):
    """Each output's place under out_dir and its bytes, and the records with places relative to out_dir."""
    files = {os.path.relpath(r.output, out_dir): Path(r.output).read_bytes() for r in results if r.output}
    records = [(os.path.basename(r.source), r.output and os.path.relpath(r.output, out_dir), r.damaged,
                r.error) for r in results]
    return files, records


@pytest.mark.filterwarnings("ignore::jpg.DamagedDataWarning")  # photo07 is cut short
@pytest.mark.parametrize("to", ["ppm", "png", "jpeg"])
def test_cluster_writes_what_a_serial_run_writes(to, tree, client, tmp_path):
    options = {"to": to, "min_width": 40, "min_height": 30, "files_per_task": 3}
    serial = jpg.batch.convert(tree, tmp_path / "serial", **options)
    parallel = jpg.batch.convert(str(tree), tmp_path / "cluster", client=client, **options)
    assert len(serial) == 40
    serial_files, serial_records = outputs(serial, tmp_path / "serial")
    parallel_files, parallel_records = outputs(parallel, tmp_path / "cluster")
    assert parallel_records == serial_records
    assert parallel_files == serial_files and len(serial_files) == 39

    by_name = {os.path.basename(r.source): r for r in serial}
    assert by_name["photo07.jpg"].damaged and by_name["photo07.jpg"].output
    assert by_name["photo08.jpg"].output is None and "not a JPEG file" in by_name["photo08.jpg"].error
    assert sum(r.damaged for r in serial) == 1 and sum(r.error is not None for r in serial) == 1
    assert os.path.relpath(by_name["photo05.jpg"].output, tmp_path / "serial") == os.path.join("a", "photo05" + (
        ".pgm" if to == "ppm" else ".png" if to == "png" else ".jpg"))
    if to == "ppm":  # the pictures themselves: decoded at the reduction the sizes ask for
        source = Path(by_name["photo13.jpg"].source).read_bytes()
        written = read_netpbm(by_name["photo13.jpg"].output)
        numpy.testing.assert_array_equal(written, jpg.decode(source, min_width=40, min_height=30))
        assert written.shape[1] < 90 + 5 * 13


def test_functions_and_errors_pickle():
    """Dask and multiprocessing ship functions by name and errors by value."""
    for function in (jpg.decode, jpg.decode_into, jpg.encode, jpg.info, jpg.preview, jpg.batch.convert_files):
        assert pickle.loads(pickle.dumps(function)) is function
    try:
        jpg.decode(b"\xff\xd8")
    except jpg.JpgError as error:
        copy = pickle.loads(pickle.dumps(error))
        assert type(copy) is jpg.JpgError and str(copy) == str(error) and copy.code == error.code
