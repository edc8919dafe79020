"""The README's Python snippets run and say what they claim."""

import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"


@pytest.mark.skipif(not README.is_file(), reason="needs the source tree")
def test_readme_snippets_run():
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(), re.S)
    assert len(blocks) >= 2
    namespace = {}
    for block in blocks:
        exec(compile(block, str(README), "exec"), namespace)
    assert namespace["apid"] == 0x123 and namespace["sequence_count"] == 100 and namespace["data_length"] == 35
