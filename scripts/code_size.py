#!/usr/bin/env python3
"""Counts the project's lines of code: test code against everything else.

A line counts when it holds anything besides blanks and comments:
- C, C++, headers and the .def/.inc/.in tables they include: // and /* */
  comments are dropped (text inside string and character literals, raw
  strings included, is code);
- Python: # comments and docstrings (a string standing alone as the first
  statement of a module, class or function) are dropped;
- CMake and shell: # comments are dropped (CMake's #[[ ]] blocks too); a
  shell script is a .sh file or an extension-less file starting with #!.
Markdown, text, TOML, linker and suppression files are not code and are not
counted. The files are those git tracks (so nothing generated at build time
and nothing in build directories); outside a git checkout, every file but
build*/, .venv*/ and hidden directories. Test code is every counted file
under tests/, the test-only module's C++ included.

Prints, per kind, the counted lines of test code and of the rest, then the
totals and the ratio test/code.
"""

import ast
import io
import os
import re
import subprocess
import sys
import tokenize

C_SUFFIXES = {".c", ".h", ".cpp", ".hpp", ".cc", ".def", ".inc", ".in"}


def kind_of(path):
    name = os.path.basename(path)
    suffix = os.path.splitext(name)[1]
    if suffix in C_SUFFIXES:
        return "C/C++"
    if suffix in (".py", ".pyi"):
        return "Python"
    if name == "CMakeLists.txt" or suffix == ".cmake":
        return "CMake"
    if suffix == ".sh":
        return "shell"
    if not suffix:
        try:
            with open(path, "rb") as f:
                if f.read(2) == b"#!":
                    return "shell"
        except OSError:
            pass
    return None


def c_code_lines(text):
    """Numbers of the lines holding C or C++ outside comments."""
    lines = set()
    i, n, line = 0, len(text), 1
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
        elif c.isspace() or c == "\\" and text.startswith("\n", i + 1):
            i += 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                # A backslash at the end of a // comment continues it.
                if text.startswith("\\\n", i):
                    line += 1
                    i += 1
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            line += text.count("\n", i, end)
            i = end
        else:
            raw = re.match(r'(?:u8|u|U|L)?R"([^()\\\s]{0,16})\(', text[i:i + 24])
            if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
                end = text.find(")" + raw.group(1) + '"', i + raw.end())
                end = n if end < 0 else end + len(raw.group(1)) + 2
            elif c in "\"'":
                end = i + 1
                while end < n and text[end] not in (c, "\n"):
                    end += 2 if text[end] == "\\" else 1
                end = min(end + 1, n)
            else:
                end = i + 1
            lines.update(range(line, line + text.count("\n", i, end) + 1))
            line += text.count("\n", i, end)
            i = end
    return lines


def docstring_lines(tree):
    lines = set()
    for node in ast.walk(tree):
        if isinstance(node, (ast.Module, ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef)) and node.body:
            first = node.body[0]
            if isinstance(first, ast.Expr) and isinstance(first.value, ast.Constant) \
                    and isinstance(first.value.value, str):
                lines.update(range(first.lineno, first.end_lineno + 1))
    return lines


def python_code_lines(text):
    """Numbers of the lines holding Python tokens other than comments and docstrings."""
    lines = set()
    skipped = {tokenize.COMMENT, tokenize.NL, tokenize.NEWLINE, tokenize.INDENT, tokenize.DEDENT,
               tokenize.ENDMARKER, tokenize.ENCODING}
    for token in tokenize.generate_tokens(io.StringIO(text).readline):
        if token.type not in skipped:
            lines.update(range(token.start[0], token.end[0] + 1))
    return lines - docstring_lines(ast.parse(text))


def hash_comment_code_lines(text):
    """Numbers of the lines of a shell script or CMake file that are not # comments."""
    lines = set()
    in_block = False
    for number, source in enumerate(text.splitlines(), 1):
        stripped = source.strip()
        if in_block:
            in_block = "]]" not in stripped
        elif stripped.startswith("#[["):
            in_block = "]]" not in stripped
        elif stripped and not stripped.startswith("#"):
            lines.add(number)
    return lines


COUNTERS = {"C/C++": c_code_lines, "Python": python_code_lines,
            "CMake": hash_comment_code_lines, "shell": hash_comment_code_lines}


def project_files(root):
    try:
        listed = subprocess.run(["git", "ls-files", "-z"], cwd=root, capture_output=True, check=True).stdout
        return [name for name in listed.decode().split("\0") if name]
    except (OSError, subprocess.CalledProcessError):
        found = []
        for directory, subdirectories, names in os.walk(root):
            subdirectories[:] = [d for d in subdirectories
                                 if not d.startswith((".", "build")) and d != "__pycache__"]
            found += [os.path.relpath(os.path.join(directory, name), root) for name in names]
        return found


def count(root):
    """{(is_test, kind): lines} over the project under root."""
    totals = {}
    for name in project_files(root):
        path = os.path.join(root, name)
        kind = kind_of(path)
        if kind is None or not os.path.isfile(path):
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        key = (name.split(os.sep)[0] == "tests", kind)
        totals[key] = totals.get(key, 0) + len(COUNTERS[kind](text))
    return totals


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    totals = count(root)
    kinds = sorted({kind for _, kind in totals})
    print("%-8s %8s %8s" % ("", "tests", "code"))
    for kind in kinds:
        print("%-8s %8d %8d" % (kind, totals.get((True, kind), 0), totals.get((False, kind), 0)))
    tests = sum(lines for (is_test, _), lines in totals.items() if is_test)
    code = sum(lines for (is_test, _), lines in totals.items() if not is_test)
    print("%-8s %8d %8d" % ("total", tests, code))
    print("test/code: %.2f" % (tests / code if code else 0.0))


if __name__ == "__main__":
    main(sys.argv)
