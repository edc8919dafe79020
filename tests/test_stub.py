"""The type stub matches the module, type checkers find it where pip put it, and the examples
pass strict type checking."""

import ast
import importlib.metadata
import importlib.util
import inspect
import pathlib
import subprocess
import sys

import pytest

import telbit

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUB = ROOT / "src" / "telbit.pyi"
needs_mypy = pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="needs mypy")


def run_mypy(*args, cwd):
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-error-summary",
                           "--cache-dir", str(cwd / ".mypy_cache"), *args],
                          capture_output=True, text=True, timeout=600, cwd=cwd)


@pytest.mark.skipif(not STUB.is_file(), reason="needs the source tree")
def test_stub_declares_every_function_with_its_parameters():
    functions = {node.name: node for node in ast.parse(STUB.read_text()).body if isinstance(node, ast.FunctionDef)}
    assert list(functions) == telbit.__all__
    for name, node in functions.items():
        runtime = inspect.signature(getattr(telbit, name))
        assert [a.arg for a in node.args.args] == list(runtime.parameters), name
        assert not node.args.posonlyargs and not node.args.kwonlyargs and not node.args.vararg, name
        defaults = [ast.literal_eval(d) for d in node.args.defaults]
        assert defaults == [p.default for p in runtime.parameters.values() if p.default is not p.empty], name


@needs_mypy
def test_stubtest_against_the_built_modules(tmp_path):
    allowlist = ROOT / "tests" / "stubtest-allowlist.txt"
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "telbit", "telbit_columns", "--allowlist",
                             str(allowlist)],
                            capture_output=True, text=True, timeout=600, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


# Lines that end in "# error" must be reported, and only those.
CALLS = """\
import array
import numpy
import telbit
import telbit_columns
from telbit import RecipeEntry

entry: RecipeEntry = {"name": "a", "encoding": "unsigned", "bits": 8, "byte_order": "big", "reverse_bits": False}
placed: RecipeEntry = {**entry, "offset_bits": 8}
values = telbit.unpack_parameters(b"x", 0, [entry, placed])
reveal_type(values)
packet: bytes = telbit.pack_parameters((entry,), {"a": 1})
telbit.decode_packed_bcd(value=0x12, bits=8, signed=True)
telbit.decode_twos_complement(numpy.uint16(5), numpy.int32(16))
telbit.encode_ieee754_f32(1)
telbit.encode_ieee754_f64(numpy.float32(0.5))
text: str = telbit.decode_windows_1252(telbit.encode_utf16le("x"))
telbit.decode_packed_bcd(1, 8, signed=1)  # error
telbit.decode_twos_complement(1.5, 8)  # error
telbit.encode_utf8(b"x")  # error
telbit.decode_utf8("x")  # error
telbit.unpack_parameters(b"x", 0, "recipe")  # error
telbit.unpack_parameters(b"x", 0, [{"name": "a", "bits": 8}])  # error
telbit.pack_parameters([entry], [1])  # error
telbit.encode_utf8(text="x", extra=1)  # error
wrong: str = telbit.encode_utf16("x")  # error
missing: RecipeEntry = {"name": "a", "encoding": "unsigned", "bits": 8, "byte_order": "big"}  # error
flag: RecipeEntry = {**entry, "reverse_bits": 1}  # error
misspelt: RecipeEntry = {**entry, "encoding": "unsinged"}  # error
abbreviated: RecipeEntry = {**entry, "byte_order": "BE"}  # error
columns = telbit_columns.unpack_columns(bytearray(2), [entry], 1)
first: int | float = columns["a"][0]  # error
counts = columns["a"]
assert isinstance(counts, telbit_columns.Column)
total: float = sum(counts)
telbit_columns.unpack_columns(memoryview(b""), [entry], starts=array.array("q", [0, 0]))
telbit_columns.unpack_columns(b"", [entry], 1, 0, [0])  # error
"""


@needs_mypy
def test_type_checker_finds_the_installed_stub_and_checks_calls(tmp_path):
    (tmp_path / "calls.py").write_text(CALLS)
    result = run_mypy("calls.py", cwd=tmp_path)  # outside the source tree: the stub comes from site-packages
    # Older mypy versions qualify builtin names.
    assert 'Revealed type is "dict[str, int | float | str]"' in result.stdout.replace("builtins.", ""), result.stdout
    reported = {int(line.split(":")[1]) for line in result.stdout.splitlines() if ": error:" in line}
    expected = {number for number, line in enumerate(CALLS.splitlines(), 1) if line.endswith("# error")}
    assert reported == expected, result.stdout


EXAMPLE_DISTRIBUTIONS = ("pandas", "pandas-stubs", "matplotlib", "tqdm", "types-tqdm", "dask", "distributed")


@needs_mypy
@pytest.mark.skipif(not (ROOT / "examples").is_dir(), reason="needs the source tree")
def test_examples_pass_strict_type_checking(tmp_path):
    for name in EXAMPLE_DISTRIBUTIONS:
        try:
            importlib.metadata.distribution(name)
        except importlib.metadata.PackageNotFoundError:
            pytest.skip(f"needs the examples extra ({name})")
    result = run_mypy(str(ROOT / "examples"), cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
