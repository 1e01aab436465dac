"""The user guide's examples run as written: the python blocks of each
section, in order, in one namespace, against an empty built-in flow cache
and switch store of their own."""

import pathlib
import re

import pytest

GUIDE = pathlib.Path(__file__).resolve().parent.parent / "docs" / "guide.md"


def sections():
    """(title, [code of each python block]) of every section with examples."""
    found = []
    for part in re.split(r"^## ", GUIDE.read_text(), flags=re.MULTILINE)[1:]:
        title = part.splitlines()[0].strip()
        blocks = re.findall(r"^```python\n(.*?)^```", part, flags=re.MULTILINE | re.DOTALL)
        if blocks:
            found.append((title, blocks))
    return found


SECTIONS = sections()


def test_the_guide_has_the_tasks_it_promises():
    titles = [title for title, _ in SECTIONS]
    assert titles == ["List the flows of a port", "Watch a counter", "Build a flow key", "Decode a captured packet",
                      "Read switch state"]


@pytest.mark.python_only
@pytest.mark.parametrize("title, blocks", SECTIONS, ids=[title for title, _ in SECTIONS])
def test_guide_section_runs(title, blocks, flow_cache, switch_store, capsys):
    if any("scapy" in block for block in blocks):
        pytest.importorskip("scapy")
    namespace = {"__name__": "guide"}
    for number, block in enumerate(blocks, 1):
        exec(compile(block, "%s: %s, block %d" % (GUIDE.name, title, number), "exec"), namespace)
    assert capsys.readouterr().out, "every section shows its results"
