#!/usr/bin/env python3
"""Fail on an include that points up the layer stack.

The library's folders are layers that call only downward:
    lib/core -> lib/sys -> lib/containers -> lib/formats -> lib/fs -> pgp -> app
A source or header in one layer may include headers of its own layer and of
the layers below it, never of a layer above. tools/, tests/ and bench/ sit on
top and may include anything. Prints every offending include (file:line) and
exits 1 when there is any; exits 0 otherwise.

    scripts/check_layers.py [project root]
"""
import pathlib
import re
import sys

LAYERS = ["core", "sys", "containers", "formats", "fs", "pgp", "app"]
RANK = {name: i for i, name in enumerate(LAYERS)}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_folders(root):
    for name in LAYERS:
        folder = root / "lib" / name if RANK[name] < RANK["pgp"] else root / name
        yield name, folder


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    bad = []
    seen = 0
    for name, folder in layer_folders(root):
        for path in sorted(folder.glob("*")):
            if path.suffix not in (".h", ".cpp", ".c"):
                continue
            seen += 1
            for lineno, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = m.group(1).split("/")
                # Rooted at lib/ ("fs/m_fs_file.h") or at the project root
                # ("lib/fs/..." is not used; "pgp/pgp_encrypt.h").
                if target[0] == "lib" and len(target) > 2:
                    target = target[1:]
                if len(target) < 2 or target[0] not in RANK:
                    continue
                if RANK[target[0]] > RANK[name]:
                    bad.append(f"{path.relative_to(root)}:{lineno}: {name} includes {m.group(1)} "
                               f"from the layer above it ({target[0]})")
    if seen == 0:
        print("no layer sources found under", root)
        return 1
    for b in bad:
        print(b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
