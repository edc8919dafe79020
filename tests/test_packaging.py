"""What an installed telbit carries: metadata, the stub, and nothing else of ours."""

import importlib.metadata
import pathlib
import re
import sys
import tomllib

import pytest

import telbit
import telbit_columns

ROOT = pathlib.Path(__file__).resolve().parent.parent


def test_metadata():
    metadata = importlib.metadata.metadata("telbit")
    assert metadata["Name"] == "telbit"
    assert metadata["Version"] == importlib.metadata.version("telbit")
    assert "MIT" in (metadata.get("License-Expression") or metadata.get("License") or "")
    classifiers = metadata.get_all("Classifier")
    assert "Programming Language :: Python :: Implementation :: CPython" in classifiers
    assert "Programming Language :: Python :: %d.%d" % sys.version_info[:2] in classifiers
    assert metadata["Requires-Python"] == ">=3.11"
    assert not [r for r in metadata.get_all("Requires-Dist") or [] if "extra ==" not in r]


@pytest.mark.skipif(not (ROOT / "pyproject.toml").is_file(), reason="needs the source tree")
def test_one_version_and_its_changelog_entry():
    version = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]["version"]
    assert importlib.metadata.version("telbit") == version
    first_release = next(line for line in (ROOT / "CHANGELOG.md").read_text().splitlines() if line.startswith("## "))
    assert first_release.split()[1] == version


def test_installed_files():
    files = importlib.metadata.files("telbit")
    # The modules imported are the ones pip installed, not builds lying in a source tree.
    for imported in (telbit, telbit_columns):
        module = next(f for f in files if f.name == pathlib.Path(imported.__file__).name)
        assert pathlib.Path(module.locate()).resolve() == pathlib.Path(imported.__file__).resolve()
    files = {str(f) for f in files}
    for name in ("telbit", "telbit_columns"):
        assert f"{name}.pyi" in files and f"{name}-stubs/__init__.pyi" in files
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
