#!/usr/bin/env python3
"""usage: check_schema.py SOURCE_DIR. host/model.schema.json must accept every example and, of the
refused model files, refuse exactly those refused for what the schema states."""
import glob, json, os, sys
import jsonschema

SCHEMA_FAULTS = {"bad_type", "bad_vector", "not_a_number", "unknown_key", "missing_axis",
                 "long_name", "long_model_name", "part_with_components"}
root = sys.argv[1]
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
print("\n".join(faults) or "%d files checked" % len(examples + refused))
sys.exit(1 if faults else 0)
