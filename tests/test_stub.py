"""The type stub matches the module, and type checkers accept the examples."""

import ast
import inspect
import pathlib
import subprocess
import sys

import pytest

import telbit

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUB = ROOT / "src" / "telbit.pyi"
pytestmark = pytest.mark.skipif(not STUB.is_file(), reason="needs the source tree")


def stub_functions():
    tree = ast.parse(STUB.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_stub_declares_every_function_with_its_parameters():
    functions = stub_functions()
    assert list(functions) == telbit.__all__
    for name, node in functions.items():
        parameters = [a.arg for a in node.args.args]
        defaults = [ast.literal_eval(d) for d in node.args.defaults]
        runtime = inspect.signature(getattr(telbit, name))
        assert parameters == list(runtime.parameters), name
        assert defaults == [p.default for p in runtime.parameters.values() if p.default is not p.empty], name


def run_mypy(*args):
    return subprocess.run([sys.executable, "-m", "mypy", *args], capture_output=True, text=True, timeout=600,
                          cwd=ROOT)


def test_stubtest_against_the_built_module():
    pytest.importorskip("mypy")
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "telbit", "--allowlist",
                             str(ROOT / "tests" / "stubtest-allowlist.txt")],
                            capture_output=True, text=True, timeout=600, cwd=ROOT / "tests")
    assert result.returncode == 0, result.stdout + result.stderr


def test_examples_pass_strict_type_checking():
    pytest.importorskip("mypy")
    for module in ("pandas", "matplotlib", "tqdm", "dask"):
        pytest.importorskip(module)
    result = run_mypy("--strict", "--cache-dir", "/tmp/telbit-mypy-cache", "examples")
    assert result.returncode == 0, result.stdout + result.stderr


def test_type_checker_catches_a_wrong_call(tmp_path):
    pytest.importorskip("mypy")
    sample = tmp_path / "sample.py"
    sample.write_text(
        "import telbit\n"
        "entry: 'telbit.RecipeEntry' = {'name': 'a', 'encoding': 'unsigned', 'bits': 8, 'byte_order': 'big',\n"
        "                                'reverse_bits': False}\n"
        "reveal_type(telbit.unpack_parameters(b'x', 0, [entry]))\n"
        "telbit.decode_packed_bcd(1, 8, signed=1)\n"
        "telbit.encode_utf8(b'x')\n"
    )
    result = run_mypy("--strict", "--cache-dir", "/tmp/telbit-mypy-cache", str(sample))
    assert 'Revealed type is "dict[str, int | float | str]"' in result.stdout or \
        'Revealed type is "builtins.dict[builtins.str, builtins.int | builtins.float | builtins.str]"' \
        in result.stdout
    assert result.stdout.count("error:") == 2, result.stdout
