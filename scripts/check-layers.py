#!/usr/bin/env python3
"""Checks that the includes of src/ run one way: platform -> desktop -> config -> components ->
desk -> feature folders -> hub -> shell -> app. A folder may include only its own layer and those below
it, no circle of includes may span two folders, and no two folders may include each other, even
through different files. A file and its header count as one unit, as a circle through a .cpp is
as real as one through a header. Prints what breaks; exit 1 if any."""
import os
import re
import sys

LAYERS = {
    "platform": 0,
    "desktop": 1,
    "config": 2,
    "components": 3,
    "desk": 4,
    # The alert hub owns the alert sources, the router, the recorder and the notifications.
    "hub": 6,
    "shell": 7,
    "app": 8,
}
FEATURE = 5  # every other folder of src/
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer(folder):
    return LAYERS.get(folder, FEATURE)


def strong_components(graph):
    """Tarjan's strongly connected components of more than one node, each sorted."""
    index, low, stack, on_stack, circles = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in graph.get(v, ()):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                circles.append(sorted(component))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return circles


def main(src):
    units = {}  # unit "folder/zkName" -> set of included units
    for root, _, files in os.walk(src):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, src)
            folder = rel.split(os.sep)[0]
            unit = os.path.splitext(rel)[0]
            deps = units.setdefault(unit, set())
            with open(path, encoding="utf-8", errors="replace") as f:
                for inc in INCLUDE.findall(f.read()):
                    target = inc if "/" in inc else os.path.join(folder, inc)
                    if os.path.exists(os.path.join(src, target)):
                        deps.add(os.path.splitext(target)[0])
    problems = []
    for unit, deps in sorted(units.items()):
        here = unit.split("/")[0]
        for dep in sorted(deps):
            there = dep.split("/")[0]
            if layer(there) > layer(here):
                problems.append(f"{unit} includes {dep}: {there} lies above {here}")

    sys.setrecursionlimit(10000)
    circles = strong_components(units)
    # Feature folders may use one another, but two that do both ways are one folder in two
    # places, even when no single file closes the circle.
    folders = {}
    for unit, deps in units.items():
        here = unit.split("/")[0]
        folders.setdefault(here, set()).update(d.split("/")[0] for d in deps if d.split("/")[0] != here)
    for circle in strong_components(folders):
        problems.append("include circle between folders: " + " -> ".join(circle))
    for circle in circles:
        folders = {u.split("/")[0] for u in circle}
        if len(folders) > 1:
            problems.append("include circle across folders: " + " -> ".join(circle))
    for p in problems:
        print(p)
    print(f"{len(units)} units, {sum(len(d) for d in units.values())} includes, "
          f"{len(circles)} circles, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")))
