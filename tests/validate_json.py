#!/usr/bin/env python3
"""Validates JSON documents against a JSON schema (draft 2020-12).

    validate_json.py SCHEMA DOCUMENT...

Prints one line per document that does not match and exits 1 then; exits 2 when the
jsonschema module is missing (the test that runs this skips then)."""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("validate_json.py: the python3 jsonschema module is not installed", file=sys.stderr)
    sys.exit(2)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    failures = 0
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8") as f:
            document = json.load(f)
        errors = sorted(validator.iter_errors(document), key=lambda e: list(e.path))
        for error in errors[:5]:
            where = "/".join(str(p) for p in error.path)
            print(f"{path}: at /{where}: {error.message}")
        failures += bool(errors)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
