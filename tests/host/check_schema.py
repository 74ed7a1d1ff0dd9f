#!/usr/bin/env python3
"""usage: check_schema.py SOURCE_DIR MIRAX. host/model.schema.json must accept every example and, of
the refused model files, refuse exactly those refused for what the schema states; on a table of
edge documents the schema and mirax's loader must agree."""
import glob, json, os, subprocess, sys, tempfile
import jsonschema

SCHEMA_FAULTS = {"bad_type", "bad_vector", "not_a_number", "unknown_key", "missing_axis",
                 "long_name", "long_model_name", "part_with_components", "number_overflow"}
root, mirax = sys.argv[1], sys.argv[2]
schema = json.load(open(os.path.join(root, "host", "model.schema.json"), encoding="utf-8"))
validator = jsonschema.Draft202012Validator(schema)
validator.check_schema(schema)
examples = glob.glob(os.path.join(root, "examples", "*.json"))
refused = glob.glob(os.path.join(root, "tests", "e2e", "refused", "*.json"))
faults = [] if examples and len(refused) > len(SCHEMA_FAULTS) else ["no model files in " + root]
for path in examples + refused:
    try:
        model = json.load(open(path, encoding="utf-8"))
    except ValueError:
        continue  # not JSON: no schema applies
    want = path in examples or os.path.basename(path)[:-5] not in SCHEMA_FAULTS
    if validator.is_valid(model) != want:
        faults.append("%s: the schema %s it" % (path, "refuses" if want else "accepts"))

# Edge documents as JSON text: (what, document, accepted). NAME and MODEL stand for a csys name
# and a model name as JSON string literals; ORIGIN for the origin's first number.
BASE = ('{%s"top": MODEL, "models": {MODEL: {"type": "part", "csys": [{"name": NAME, '
        '"origin": [ORIGIN, 0, 0], "x": [1, 0, 0], "y": [0, 1, 0]}]}}}')
def doc(name='"CS"', model='"P"', origin="0", head=""):
    return BASE.replace("NAME", name).replace("MODEL", model).replace("ORIGIN", origin) % head
EDGES = [
    ("plain", doc(), True),
    ("DEL in a name", doc(name='"A\\u007fB"'), False),
    ("C1 control in a name", doc(name='"A\\u0085B"'), False),
    ("no-break space in a name", doc(name='"A\\u00a0B"'), True),
    ("a pair of surrogates", doc(name='"A\\ud83d\\ude00"'), True),
    ("a lone surrogate", doc(name='"A\\ud800"'), False),
    ("a lone surrogate in a model name", doc(model='"\\udc00P"'), False),
    ("\"[\" in a model name", doc(model='"P[1]"'), False),
    ("\"[\" in a csys name", doc(name='"CS[1]"'), True),
    ("31 characters", doc(name='"%s"' % ("x" * 31)), True),
    ("$schema at the top", doc(head='"$schema": "model.schema.json", '), True),
    ("$schema not a string", doc(head='"$schema": 1, '), False),
    ("1e400", doc(origin="1e400"), False),
    ("1e308", doc(origin="1e308"), True),
]
with tempfile.TemporaryDirectory() as work:
    for what, text, accepted in EDGES:
        path = os.path.join(work, "edge.json")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        try:
            schema_says = validator.is_valid(json.loads(text))
        except ValueError:
            schema_says = False
        status = subprocess.run([mirax, "--model", path, "--export-model",
                                 os.path.join(work, "out.json")], capture_output=True).returncode
        if (schema_says, status) != (accepted, 0 if accepted else 2):
            faults.append("%s: the schema %s it, mirax ends with %d" %
                          (what, "accepts" if schema_says else "refuses", status))

print("\n".join(faults) or "%d files and %d edge documents checked" %
      (len(examples + refused), len(EDGES)))
sys.exit(1 if faults else 0)
