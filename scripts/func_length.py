#!/usr/bin/env python3
"""List every C++ function longer than N lines (default 80) in lib/, pgp/,
app/ and tools/, and fail on any that the allow-list below does not name.

A function's length runs from the first line of its declaration (template
line and return type included) to its closing brace, blank and comment lines
included. The scan matches braces over the text with comments, string and
character literals and preprocessor lines blanked out. Function definitions at
namespace scope (also inside extern "C") and member functions defined in a
class body count; a lambda or local class counts as part of the function that
holds it and is not listed on its own. Initialiser braces (`= {...}`, and a
constructor's `member{...}`) are not functions.

usage: scripts/func_length.py [--max N] [--root DIR]
Exit status 1 when a function over the limit is not allowed below, else 0.
"""
import argparse
import pathlib
import re
import sys

FOLDERS = ("lib", "pgp", "app", "tools")
# "path:function": the one-line reason it may stay over the limit, as in
#   "pgp/pgp_pubkey.cpp:read_public_key": "being rewritten (the key reader)",
ALLOWED = {}
SPECIAL = re.compile(r"//|/\*|[\"'#]")
CLASS = re.compile(r"\b(class|struct|union)\b")
FUNC_TAIL = re.compile(r"\)\s*(const|noexcept|override|final|&&?|\s)*(->[^{;=]*)?$")


def mask(text):
    """text with comments, literals and preprocessor lines (with their
    continuations) turned to spaces; newlines are kept."""
    out, pos = list(text), 0

    def blank(a, b):
        out[a:b] = ["\n" if c == "\n" else " " for c in text[a:b]]
        return b

    while m := SPECIAL.search(text, pos):
        i, tok = m.start(), m.group()
        if tok == "#" and not text[text.rfind("\n", 0, i) + 1:i].strip():
            end = i
            while (end := text.find("\n", end)) > 0 and text[end - 1] == "\\":
                end += 1
            pos = blank(i, len(text) if end < 0 else end)
        elif tok in ("//", "/*"):
            end = text.find("\n" if tok == "//" else "*/", i + 2)
            pos = blank(i, len(text) if end < 0 else end + (2 if tok == "/*" else 0))
        elif tok == "'" and re.search(r"\b\d[\w']*$", text[max(0, i - 40):i]):
            pos = i + 1  # a digit separator, as in 1'000
        else:
            j = i + 1
            while j < len(text) and text[j] not in (tok, "\n"):
                j += 2 if text[j] == "\\" else 1
            pos = blank(i, min(j + 1, len(text)))
    return "".join(out)


def function_name(header):
    """The name before the parameter list of a declaration, or None when the
    header is not a function's (an initialiser, a class)."""
    header = re.sub(r"\boperator\s*(\(\)|\[\]|[^\w\s(]+)", "operator@", header)
    depth = skip = 0
    for i, c in enumerate(header):
        if c in "<[(" and skip:
            skip += c == "("
        elif c == ")" and skip:
            skip -= 1
        elif c in "<[":
            depth += 1
        elif c in ">]":
            depth -= 1
        elif c == "=" and depth == 0:
            return None
        elif c == "(" and depth == 0:
            m = re.search(r"(~?[\w:@]+)\s*$", header[:i])
            if not m or m.group(1) not in ("__attribute__", "alignas", "decltype"):
                return m.group(1) if m else None
            skip = 1  # an attribute or a type before the name
    return None


def functions(text):
    """(name, first line, last line) of each function definition in text."""
    code, stack, start = mask(text), [], 0  # "ns", "class", "init", "other" or (name, first line)
    for m in re.finditer(r"[{};]", code):
        if m.group() == "{":
            entry = "other"
            if not stack or stack[-1] in ("ns", "class"):
                header = re.sub(r"^\s*((public|private|protected)\s*:(?!:))?", "", code[start:m.start()])
                flat = " ".join(header.split())
                ctor = re.search(r"\)\s*:[^:]", flat)
                if re.search(r"\bnamespace\b|^extern$", flat):
                    entry = "ns"
                elif CLASS.search(flat) and "(" not in flat:
                    entry = "class"
                elif ctor and re.search(r"[\w>]$", flat):
                    entry = "init"  # a member initialiser in braces, still the header
                elif (FUNC_TAIL.search(flat) or ctor) and function_name(flat):
                    entry = (function_name(flat), code.count("\n", 0, m.start() - len(header.lstrip())) + 1)
            stack.append(entry)
        elif m.group() == "}" and stack:
            top = stack.pop()
            if isinstance(top, tuple):
                yield top[0], top[1], code.count("\n", 0, m.start()) + 1
            if top == "init":
                continue
        if not stack or stack[-1] in ("ns", "class"):
            start = m.end()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--max", type=int, default=80)
    ap.add_argument("--root", default=pathlib.Path(__file__).resolve().parent.parent)
    a = ap.parse_args()
    root, bad, seen = pathlib.Path(a.root), 0, set()
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".c", ".cpp", ".h"):
                continue
            rel = path.relative_to(root).as_posix()
            for name, first, last in functions(path.read_text(errors="replace")):
                length = last - first + 1
                if length > a.max:
                    key = f"{rel}:{name.split('::')[-1]}"
                    reason = ALLOWED.get(key)
                    seen.add(key)
                    bad += reason is None
                    print(f"{rel}:{first}: {name} {length} lines" + (f" (allowed: {reason})" if reason else ""))
    for key in sorted(set(ALLOWED) - seen):
        print(f"note: {key} is allowed but no longer over the limit; take it off the list")
    print(f"-- functions over {a.max} lines not allowed: {bad}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
