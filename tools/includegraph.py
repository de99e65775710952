#!/usr/bin/env python3
"""Checks the product's include graph: no circle between modules (a header and
its source file count as one module) and no include from a folder into one on
its own level or above. Exits 1 on a fault; --edges also prints which folder
includes from which.

    python3 tools/includegraph.py [--edges]
"""
import pathlib
import re
import sys

# Each folder may include only from folders on a lower level.
LEVELS = {
    "common": 0,
    "libs/wmaudsdk": 0,
    "libs/vcedit": 0,
    "components/wmastd": 1,
    "components/wmalossless": 1,
    "components/audio": 2,
    "components/skin": 2,
    "tags": 3,
    "dialogs": 4,
    "app/core": 4,
    "app/gui": 5,
    "app/cli": 5,
    "app": 6,
}

root = pathlib.Path(__file__).resolve().parent.parent
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
files = []  # (folder, file name)
headers = {}  # header name -> folder: includes are by bare name
for folder in LEVELS:
    for path in sorted((root / folder).glob("*")):
        if path.suffix in (".h", ".cpp", ".c"):
            files.append((folder, path.name))
        if path.suffix == ".h":
            if path.name in headers:
                sys.exit(f"{path.name} is in both {headers[path.name]} and {folder}")
            headers[path.name] = folder

faults = []
edges = {}  # module -> modules it includes
folder_edges = set()
for folder, name in files:
    module = f"{folder}/{pathlib.Path(name).stem}"
    edges.setdefault(module, set())
    for target in include.findall((root / folder / name).read_text()):
        if target not in headers:
            faults.append(f"{folder}/{name}: includes {target}, which no product folder holds")
            continue
        to = headers[target]
        if to != folder:
            folder_edges.add((folder, to))
            if LEVELS[to] >= LEVELS[folder]:
                faults.append(f"{folder}/{name}: includes {to}/{target} from a level not below its own")
        other = f"{to}/{pathlib.Path(target).stem}"
        if other != module:
            edges[module].add(other)

# Tarjan's strongly connected components: any with more than one module is a circle.
index, low, stack, on_stack, counter = {}, {}, [], set(), [0]


def visit(node):
    index[node] = low[node] = counter[0]
    counter[0] += 1
    stack.append(node)
    on_stack.add(node)
    for nxt in edges.get(node, ()):
        if nxt not in index:
            visit(nxt)
            low[node] = min(low[node], low[nxt])
        elif nxt in on_stack:
            low[node] = min(low[node], index[nxt])
    if low[node] == index[node]:
        component = []
        while True:
            top = stack.pop()
            on_stack.discard(top)
            component.append(top)
            if top == node:
                break
        if len(component) > 1:
            faults.append("circle: " + " <-> ".join(sorted(component)))


sys.setrecursionlimit(10000)
for node in sorted(edges):
    if node not in index:
        visit(node)

if "--edges" in sys.argv[1:]:
    for source, target in sorted(folder_edges):
        print(f"{source} -> {target}")
print(f"{len(files)} files, {len(edges)} modules")
for fault in faults:
    print("FAULT:", fault)
sys.exit(1 if faults else 0)
