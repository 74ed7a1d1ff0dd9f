#!/usr/bin/env python3
"""Checks host/model.schema.json against the model files mirax accepts and refuses: every example
must be valid; of the refused files, exactly those refused for what the schema states must be
invalid (the others are refused for what only mirax checks: cycles, axes, unknown models, ...).

usage: check_schema.py SOURCE_DIR
"""
import glob
import json
import os
import sys

import jsonschema

# Refused files whose fault the schema itself describes.
SCHEMA_FAULTS = {"bad_type", "bad_vector", "not_a_number", "unknown_key", "missing_axis",
                 "long_name", "long_model_name", "part_with_components"}

root = sys.argv[1]
with open(os.path.join(root, "host", "model.schema.json"), encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
faults = []
examples = glob.glob(os.path.join(root, "examples", "*.json"))
refused = glob.glob(os.path.join(root, "tests", "e2e", "refused", "*.json"))
for path in examples + refused:
    name = os.path.splitext(os.path.basename(path))[0]
    try:
        with open(path, encoding="utf-8") as f:
            model = json.load(f)
    except ValueError:
        continue  # not JSON at all: no schema applies
    valid = validator.is_valid(model)
    want = path in examples or name not in SCHEMA_FAULTS
    if valid != want:
        faults.append("%s: %s, expected %s" % (path, "valid" if valid else "invalid",
                                               "valid" if want else "invalid"))
if not examples or len(refused) < len(SCHEMA_FAULTS):
    faults.append("no model files found under " + root)
print("\n".join(faults) if faults else "%d files checked" % (len(examples) + len(refused)))
sys.exit(1 if faults else 0)
