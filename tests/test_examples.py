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
    assert 13 < frame["battery_temp"].min() < frame["battery_temp"].max() < 29
    picture = tmp_path / "housekeeping.png"
    assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and picture.stat().st_size > 10_000


def test_parallel_archive_gives_the_same_answer_every_way(examples_path):
    example = importlib.import_module("parallel_archive")
    dask_args = ["--dask"] if importlib.util.find_spec("dask") is not None else []
    results = example.main(["--packets", "6000", "--packets-per-chunk", "1000", "--workers", "2", *dask_args])
    assert results["serial"]["packets"] == 6000
    for way, summary in results.items():
        assert summary == results["serial"], way
