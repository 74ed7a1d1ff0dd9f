#!/usr/bin/env python3
"""Writes the report file a correct CsysList run must produce for a model, a typed name and a
reference path, computed here independently of the module and of mirax.

usage: expected_report.py MODEL.json NAME REFERENCE|- OUT [--encoding euc_jp]
REFERENCE "-" means the pick is aborted (first run: values in the top model's coordinates).
"""
import json
import sys


def matrix(frame):
    x, y = frame["x"], frame["y"]
    z = frame.get("z") or [x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2], x[0] * y[1] - x[1] * y[0]]
    return [list(x) + [0.0], list(y) + [0.0], list(z) + [0.0], list(frame["origin"]) + [1.0]]


def mul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def inverse(m):
    """Gauss-Jordan inverse of a 4x4 matrix."""
    n = 4
    a = [row[:] + [1.0 if i == j else 0.0 for j in range(n)] for i, row in enumerate(m)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(a[r][c]))
        a[c], a[p] = a[p], a[c]
        pv = a[c][c]
        a[c] = [v / pv for v in a[c]]
        for r in range(n):
            if r != c and a[r][c] != 0:
                f = a[r][c]
                a[r] = [vr - f * vc for vr, vc in zip(a[r], a[c])]
    return [row[n:] for row in a]


IDENTITY = [[1.0 if i == j else 0.0 for j in range(4)] for i in range(4)]


def resolve(models, top, path):
    """World (top model) transform and name of the csys a reference path names."""
    parts = path.split("/")
    model, world = top, IDENTITY
    for step in parts[:-1]:
        name, index = step, 1
        if step.endswith("]"):
            name, index = step[:-1].split("[")
            index = int(index)
        seen = 0
        for comp in models[model].get("components", []):
            if comp["model"] == name:
                seen += 1
                if seen == index:
                    world = mul(matrix(comp), world)
                    model = name
                    break
        else:
            raise SystemExit("no component " + step)
    for cs in models[model].get("csys", []):
        if cs["name"] == parts[-1]:
            return mul(matrix(cs), world), cs["name"]
    raise SystemExit("no csys " + path)


def lower_c(text):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def fmt(values):
    return "%9.3f %9.3f %9.3f" % tuple(v + 0.0 for v in values)


def report(model_file, name, reference, encoding):
    doc = json.load(open(model_file, encoding="utf-8"))
    models, top = doc["models"], doc["top"]
    wanted = lower_c(name)[:31]
    out = [" Csys Name(Listing) = " + wanted + " \n"]
    ref = IDENTITY
    if reference != "-":
        ref, ref_name = resolve(models, top, reference)
        out.append(" Csys Name(Original) = " + ref_name + "  \n")
    out.append("\nLebel Name  Type  Tx   Ty   Tz   x1   x2   x3   y1   y2   y3   z1   z2   z3\n")
    rinv = inverse(ref)
    found = [True]

    def visit(model, world, level):
        for comp in models[model].get("components", []):
            child = comp["model"]
            out.append(" \n" if found[0] else "N/A " * 11 + "N/A\n")
            found[0] = False
            kind = "ASSEMBLY" if models[child]["type"] == "assembly" else "PART"
            out.append("%d %s %s " % (level, child, kind))
            placed = mul(matrix(comp), world)
            for cs in models[child].get("csys", []):
                if lower_c(cs["name"]) == wanted:
                    r = mul(mul(matrix(cs), placed), rinv)
                    out.append(fmt(r[3][:3]) + " " + fmt([r[0][0], r[1][0], r[2][0]]) + " " +
                               fmt([r[0][1], r[1][1], r[2][1]]) + " " + fmt([r[0][2], r[1][2], r[2][2]]))
                    found[0] = True
            if kind == "ASSEMBLY":
                visit(child, placed, level + 1)

    visit(top, IDENTITY, 1)
    return "".join(out).encode(encoding)


if __name__ == "__main__":
    args = sys.argv[1:]
    encoding = "ascii"
    if "--encoding" in args:
        i = args.index("--encoding")
        encoding = args[i + 1]
        del args[i:i + 2]
    model_file, name, reference, out_file = args
    open(out_file, "wb").write(report(model_file, name, reference, encoding))
