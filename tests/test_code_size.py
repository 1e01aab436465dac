"""The line counter of scripts/code_size.py: what counts as a line of code."""

import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scripts"))
import code_size  # noqa: E402


@pytest.mark.parametrize("counter, text, lines", [
    (code_size.c_code_lines, 'int a; // note\n// only a comment\n\nint b;\n', {1, 4}),
    (code_size.c_code_lines, '/* one\n   two */ int a;\n/* three */\n', {2}),
    (code_size.c_code_lines, 'const char *s = "// not a comment";\nchar c = \'"\'; /* " */\n', {1, 2}),
    (code_size.c_code_lines, 'auto s = R"x(\n/* kept */\n)x";\n// gone\n', {1, 2, 3}),
    (code_size.c_code_lines, '#define A(x) \\\n  (x)\n', {1, 2}),
    (code_size.python_code_lines, '"""Module\ndoc."""\n\n# comment\nx = 1  # tail\n', {5}),
    (code_size.python_code_lines, 'def f():\n    """Doc."""\n    return """not\na docstring"""\n', {1, 3, 4}),
    (code_size.hash_comment_code_lines, '#!/bin/sh\n# c\necho "#" x\n\n  # indented\n', {3}),
    (code_size.hash_comment_code_lines, '#[[ block\nset(A 1)\n]]\nset(B 2)\n', {4}),
])
def test_counts_the_lines_that_hold_code(counter, text, lines):
    assert counter(text) == lines


def test_tests_and_code_are_told_apart_and_other_files_are_not_counted(tmp_path):
    (tmp_path / "tests").mkdir()
    (tmp_path / "tests" / "test_a.py").write_text("import os\nassert os\n")
    (tmp_path / "lib.cpp").write_text("int f();\n")
    (tmp_path / "CMakeLists.txt").write_text("project(x)\n")
    (tmp_path / "run").write_text("#!/bin/bash\ntrue\n")
    (tmp_path / "README.md").write_text("text\n")
    (tmp_path / "build-x").mkdir()
    (tmp_path / "build-x" / "generated.cpp").write_text("int g();\n")
    assert code_size.count(str(tmp_path)) == {
        (True, "Python"): 2, (False, "C/C++"): 1, (False, "CMake"): 1, (False, "shell"): 1}
