#!/usr/bin/python3
"""check_json.py SCHEMA [--findings] < JSON: prints each violation of the schema (--findings: of its
findings definition, for --export-format json files); exits 1 when there is one."""
import json, sys
import jsonschema

with open(sys.argv[1], encoding='utf-8') as f:
    schema = json.load(f)
if sys.argv[2:] == ['--findings']:
    schema = {'$schema': schema['$schema'], '$defs': schema['$defs'], '$ref': '#/$defs/findings'}
jsonschema.Draft202012Validator.check_schema(schema)
errors = list(jsonschema.Draft202012Validator(schema).iter_errors(json.load(sys.stdin)))
for error in errors:
    print(f'{"/".join(map(str, error.absolute_path))}: {error.message}')
sys.exit(1 if errors else 0)
