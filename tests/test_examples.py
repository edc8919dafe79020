"""Every example runs, so that none rots."""

import importlib
import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
pytestmark = pytest.mark.skipif(not EXAMPLES.is_dir(), reason="needs the source tree")


@pytest.fixture
def examples_path(monkeypatch):
    monkeypatch.syspath_prepend(str(EXAMPLES))
    yield
    for name in ("telemetry", "housekeeping", "archive_to_dataframe", "parallel_archive"):
        sys.modules.pop(name, None)


def test_housekeeping_script_prints_decoded_values():
    result = subprocess.run([sys.executable, str(EXAMPLES / "housekeeping.py")], capture_output=True, text=True,
                            timeout=60, cwd=EXAMPLES.parent)
    assert result.returncode == 0, result.stderr
    assert result.stdout.count("APID 0x123") == 3
    assert "software HKv2.1.0" in result.stdout
    assert "command packet (23 bytes): 10 45 c0 07 00 10 2a 6a ff 09 00 68 65 61 74 65 72 20 74 65 73 74 00" \
        in result.stdout


def test_sample_packets_decode_to_their_values(examples_path):
    telemetry = importlib.import_module("telemetry")
    import telbit

    for values, packet in zip(telemetry.sample_values(50), telemetry.sample_packets(50)):
        assert len(packet) == telemetry.PACKET_LENGTH
        decoded = telbit.unpack_parameters(packet, 0, telemetry.HOUSEKEEPING)
        for name, value in values.items():
            if isinstance(value, float):
                assert decoded[name] == pytest.approx(value, rel=1e-3, abs=1e-2)
            else:
                assert decoded[name] == value
        header = telemetry.primary_header(decoded)
        assert header["apid"] == telemetry.APID and header["length"] == telemetry.PACKET_LENGTH - 7


def test_archive_to_dataframe(examples_path, tmp_path):
    for module in ("pandas", "matplotlib", "tqdm"):
        pytest.importorskip(module)
    example = importlib.import_module("archive_to_dataframe")
    frame = example.main(["--packets", "3000", "--output-dir", str(tmp_path)])
    assert len(frame) == 3000
    assert frame["apid"].eq(0x123).all()
    assert frame["count"].tolist() == list(range(3000))
    assert 13 < frame["battery_temp"].min() < frame["battery_temp"].max() < 29
    picture = tmp_path / "housekeeping.png"
    assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and picture.stat().st_size > 10_000
    # An archive given on the command line is decoded as it is.
    again = example.main(["--archive", str(tmp_path / "housekeeping.bin"), "--output-dir", str(tmp_path / "again")])
    assert again.equals(frame)


@pytest.fixture
def local_cluster():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        yield cluster.scheduler_address


@pytest.mark.parametrize("way", ["processes", "dask", "cluster"])
def test_parallel_archive_gives_the_same_answer_every_way(examples_path, tmp_path, request, way):
    pytest.importorskip("pandas")
    example = importlib.import_module("parallel_archive")
    telemetry = importlib.import_module("telemetry")
    arguments = ["--packets", "6001", "--packets-per-chunk", "1000", "--workers", "2",
                 "--archive", str(tmp_path / "archive.bin")]
    if way == "dask":
        pytest.importorskip("dask")
        arguments.append("--dask")
    elif way == "cluster":
        pytest.importorskip("dask")
        arguments += ["--scheduler", request.getfixturevalue("local_cluster")]
    results = example.main(arguments)
    assert set(results) == {"serial", "processes"} | ({"dask"} if way != "processes" else set())
    samples = list(telemetry.sample_values(6001))
    temps = [int(values["battery_temp"]) / 100 for values in samples]
    assert results["serial"]["packets"] == 6001  # the last, short chunk included
    assert results["serial"]["temp_min"] == min(temps) and results["serial"]["temp_max"] == max(temps)
    assert results["serial"]["heater_on"] == sum(int(values["heater_on"]) for values in samples)
    for name, summary in results.items():
        assert summary == results["serial"], name
