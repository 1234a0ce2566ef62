#!/usr/bin/env python3
"""Draws mechanical faults at random over the product code, for scripts/mutants.sh --random.

Every place of a kind below is a candidate; `count` of them are drawn with `seed` and written in
the list format of scripts/mutants.txt ("@ id file | what", "- old", "+ new"), each old text made
long enough (lines around it) to be found exactly once in its file.

Kinds: a comparison flipped or loosened (< <=, > >=, == !=); an integer constant off by one; an
early return or an error check dropped (its condition made false); a statement call dropped; the
two arguments of a two-argument call swapped.

Usage: random_mutants.py SEED COUNT > list
"""
import random
import re
import sys
from pathlib import Path

FOLDERS = ["base", "link", "protocol", "layout", "diag", "cli"]
SKIP = re.compile(r"(^|_)win32[_.]|_stdio\.cpp$")  # not built here

COMPARISONS = [(" <= ", " < "), (" >= ", " > "), (" < ", " <= "), (" > ", " >= "),
               (" == ", " != "), (" != ", " == ")]


def code_part(line):
    """The line without its comment and string literals (their places blanked)."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            if c == quote:
                quote = None
            out.append(" ")
        elif c in "\"'":
            quote = c
            out.append(" ")
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


def candidates(path, lines):
    found = []
    for n, line in enumerate(lines):
        stripped = line.strip()
        if not stripped or stripped.startswith(("//", "#", "*", "static_assert")):
            continue
        code = code_part(line)
        conditional = re.search(r"\b(if|while|return)\b|\?", code)
        if conditional and "template" not in code and "#include" not in code:
            for old, new in COMPARISONS:
                at = code.find(old)
                if at >= 0 and "<<" not in code and ">>" not in code and "->" not in code[at:at + 4]:
                    mutated = line[:at] + new + line[at + len(old):]
                    found.append((n, mutated, f"comparison{old}->{new.strip()}"))
                    break
        for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", code):
            if "[" in code[:m.start()] and "]" not in code[m.start():]:
                continue
            value = int(m.group(1))
            new = str(value + 1 if value == 0 or random.random() < 0.5 else value - 1)
            mutated = line[:m.start()] + new + line[m.end():]
            found.append((n, mutated, f"constant {value} -> {new}"))
            break
        m = re.match(r"(\s*)if \((.*)\) \{\s*$", line)
        if m and n + 1 < len(lines) and re.search(r"\breturn\b", lines[n + 1]):
            found.append((n, f"{m.group(1)}if (false && ({m.group(2)})) {{",
                          "early return or error check dropped"))
        m = re.match(r"(\s*)([A-Za-z_][\w:.>-]*)\((.*)\);\s*$", line)
        if m and not re.match(r"(return|delete|throw)\b", m.group(2)) and "=" not in m.group(2):
            found.append((n, f"{m.group(1)}(void)0;", f"call dropped: {m.group(2)}"))
        m = re.search(r"\b([A-Za-z_]\w*)\(([\w.>-]+), ([\w.>-]+)\)", code)
        if m and m.group(2) != m.group(3):
            start, end = m.span()
            swapped = f"{m.group(1)}({m.group(3)}, {m.group(2)})"
            found.append((n, line[:start] + swapped + line[end:],
                          f"arguments swapped: {m.group(1)}"))
    return [(path, n, new, what) for n, new, what in found if new != lines[n]]


def unique_context(text, lines, n):
    """The smallest run of lines around line n that is found once in the file."""
    before, after = 0, 0
    while True:
        old = "\n".join(lines[n - before:n + after + 1])
        if text.count(old) == 1 or (before >= n and n + after + 1 >= len(lines)):
            return before, after
        if before < n:
            before += 1
        if n + after + 1 < len(lines):
            after += 1


def main():
    seed, count = int(sys.argv[1]), int(sys.argv[2])
    random.seed(seed)
    pool = []
    for folder in FOLDERS:
        for path in sorted(Path(folder).glob("**/*.cpp")):
            if SKIP.search(path.name):
                continue
            lines = path.read_text(encoding="utf-8").split("\n")
            pool.extend(candidates(str(path), lines))
    print(f"# {count} of {len(pool)} mechanical faults drawn with seed {seed}")
    for i, (path, n, new, what) in enumerate(random.sample(pool, min(count, len(pool)))):
        text = Path(path).read_text(encoding="utf-8")
        lines = text.split("\n")
        before, after = unique_context(text, lines, n)
        old = lines[n - before:n + after + 1]
        mutated = list(old)
        mutated[before] = new
        print(f"@ R{i + 1} {path} | {what} (line {n + 1})")
        print("\n".join("- " + line for line in old))
        print("\n".join("+ " + line for line in mutated))


main()
