"""Builds the C++ check programs under tests/native against the conversion core and runs them.

The core is plain C++ with no interpreter, so these programs exercise it directly (both
binary16 paths, exhaustive pattern sweeps) under AddressSanitizer and UndefinedBehaviorSanitizer
whenever the compiler supports them.
"""

import os
import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORE = ROOT / "src" / "core"
NATIVE = pathlib.Path(__file__).resolve().parent / "native"
PROGRAMS = sorted(NATIVE.glob("*.cpp"))
CXX = os.environ.get("CXX", "g++")

pytestmark = pytest.mark.skipif(
    shutil.which(CXX) is None or not CORE.is_dir(), reason="needs a C++ compiler and the source tree"
)


def _compile(args, cwd):
    result = subprocess.run(args, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        pytest.fail(f"compilation failed: {' '.join(map(str, args))}\n{result.stderr}")


@pytest.fixture(scope="session")
def core_objects(tmp_path_factory):
    """The core compiled once per session, with sanitizers when the toolchain has them."""
    build = tmp_path_factory.mktemp("core")
    flags = ["-std=c++20", "-O1", "-g", "-Wall", "-Wextra", f"-I{ROOT / 'src'}"]
    sanitize = ["-fsanitize=address,undefined", "-fno-sanitize-recover=undefined", "-fno-omit-frame-pointer"]
    probe = build / "probe.cpp"
    probe.write_text("int main() { return 0; }\n")
    if subprocess.run([CXX, *sanitize, str(probe), "-o", str(build / "probe")], capture_output=True).returncode == 0:
        flags += sanitize
    objects = []
    for source in sorted(CORE.glob("*.cpp")):
        obj = build / (source.stem + ".o")
        _compile([CXX, *flags, "-c", str(source), "-o", str(obj)], build)
        objects.append(obj)
    return flags, objects


@pytest.mark.parametrize("program", PROGRAMS, ids=[p.stem for p in PROGRAMS])
def test_native_program(program, core_objects, tmp_path):
    flags, objects = core_objects
    exe = tmp_path / program.stem
    _compile([CXX, *flags, str(program), *map(str, objects), "-o", str(exe)], tmp_path)
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1", UBSAN_OPTIONS="print_stacktrace=1")
    result = subprocess.run([str(exe)], capture_output=True, text=True, env=env, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
