#!/usr/bin/env python3
"""Prints the include circles among the program's sources.

A room is a pair of files of src/ sharing a name (x.h and x.cpp); room A leans on room B when
either file of A includes "B.h". A circle is a set of rooms that all reach one another through
such arrows (a strongly connected component of more than one room). The rooms are printed floor
by floor, lowest first, each with the rooms it leans on; then every circle with the arrows that
close it.

  tools/include_graph.py [SRC_DIR] [--allow a,b] [--floors]

Exits 1 when there is a circle other than the one named by --allow (its rooms, comma-separated),
so it can stand as a check. Standard library only.
"""
import argparse
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)\.h"', re.MULTILINE)


def read_graph(src):
    rooms = {}
    for name in sorted(os.listdir(src)):
        stem, ext = os.path.splitext(name)
        if ext not in (".h", ".cpp"):
            continue
        with open(os.path.join(src, name), encoding="utf-8") as f:
            text = f.read()
        rooms.setdefault(stem, set())
        rooms[stem].update(INCLUDE.findall(text))
    # Only arrows to rooms of the program (library headers are no rooms of ours), none to itself.
    return {r: sorted(t for t in targets if t in rooms and t != r) for r, targets in rooms.items()}


def circles(graph):
    """Tarjan's strongly connected components, iterative; only those of two or more rooms."""
    index, low, on_stack, stack, result = {}, {}, set(), [], []
    counter = 0
    for root in graph:
        if root in index:
            continue
        work = [(root, iter(graph[root]))]
        index[root] = low[root] = counter
        counter += 1
        stack.append(root)
        on_stack.add(root)
        while work:
            node, children = work[-1]
            advanced = False
            for child in children:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(graph[child])))
                    advanced = True
                    break
                if child in on_stack:
                    low[node] = min(low[node], index[child])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1:
                    result.append(sorted(component))
    return result


def floors(graph, components):
    """Floor of each room: 0 for a room that leans on none, else one above its highest target.
    The rooms of a circle share one floor."""
    group = {r: r for r in graph}
    for component in components:
        for r in component:
            group[r] = component[0]
    floor = {}

    def level(r, seen=()):
        g = group[r]
        if g in floor:
            return floor[g]
        members = [m for m in graph if group[m] == g]
        below = [t for m in members for t in graph[m] if group[t] != g]
        floor[g] = 1 + max((level(t) for t in below), default=-1)
        return floor[g]

    sys.setrecursionlimit(10000)
    return {r: level(r) for r in graph}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("src", nargs="?", default=os.path.join(os.path.dirname(__file__), "..", "src"))
    parser.add_argument("--allow", default="", help="the one circle allowed, rooms comma-separated")
    parser.add_argument("--floors", action="store_true", help="also print the rooms floor by floor")
    args = parser.parse_args()
    graph = read_graph(args.src)
    found = circles(graph)
    arrows = sum(len(t) for t in graph.values())
    print(f"{len(graph)} rooms, {arrows} include arrows, {len(found)} circle(s)")
    if args.floors:
        level = floors(graph, found)
        for f in range(max(level.values()) + 1):
            print(f"floor {f}:")
            for r in sorted(x for x in graph if level[x] == f):
                print(f"  {r} -> {', '.join(graph[r]) or '-'}")
    allowed = sorted(a for a in args.allow.split(",") if a)
    bad = 0
    for component in found:
        members = set(component)
        ok = component == allowed
        bad += not ok
        print(f"circle{' (allowed)' if ok else ''}: {' '.join(component)}")
        for r in component:
            for t in graph[r]:
                if t in members:
                    print(f"  {r} -> {t}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
