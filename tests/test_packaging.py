"""What an installed telbit carries: metadata, the stub, and nothing else of ours."""

import importlib.metadata
import pathlib
import re

import telbit


def test_metadata():
    metadata = importlib.metadata.metadata("telbit")
    assert metadata["Name"] == "telbit"
    assert metadata["Version"] == importlib.metadata.version("telbit")
    assert "MIT" in (metadata.get("License-Expression") or metadata.get("License") or "")
    classifiers = metadata.get_all("Classifier")
    assert "Programming Language :: Python :: Implementation :: CPython" in classifiers
    assert metadata["Requires-Python"] == ">=3.11"
    assert not [r for r in metadata.get_all("Requires-Dist") or [] if "extra ==" not in r]


def test_installed_files():
    files = {str(f) for f in importlib.metadata.files("telbit")}
    module = pathlib.Path(telbit.__file__).name
    assert module in files
    assert "telbit.pyi" in files and "telbit-stubs/__init__.pyi" in files
    assert not [f for f in files if f.startswith(("tests/", "fuzz/", "bench/", "examples/", "src/"))]
    assert not [f for f in files if f.endswith((".cpp", ".hpp"))]


def test_test_extra_stays_lean():
    # CI installs the test extra: the examples' libraries belong to the examples extra.
    requirements = importlib.metadata.requires("telbit") or []
    extras = {}
    for requirement in requirements:
        name, _, marker = requirement.partition(";")
        for extra in ("test", "examples"):
            if f'extra == "{extra}"' in marker:
                extras.setdefault(extra, set()).add(re.split(r"[\s<>=!~\[]", name.strip())[0])
    assert extras["test"] <= {"pytest", "hypothesis", "numpy", "mypy"}
    assert {"pandas", "matplotlib", "tqdm", "dask"} <= extras["examples"]
