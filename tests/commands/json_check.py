#!/usr/bin/env python3
"""Checks bundlex's JSON reports against docs/json-schema.json.

json_check.py SCHEMA COMMAND   validates the JSON document on standard input
                               against the schema's definition for COMMAND
json_check.py SCHEMA --fields  checks that every field name has one type
                               wherever the schema declares it

Only the parts of JSON Schema that the schema uses are known: $ref to
#/definitions, anyOf, type, enum, minimum, properties, required,
additionalProperties and items. Exit 0 when valid, else 1 with the faults.
"""
import json
import sys

TYPES = {
    "object": lambda v: isinstance(v, dict),
    "array": lambda v: isinstance(v, list),
    "string": lambda v: isinstance(v, str),
    "boolean": lambda v: isinstance(v, bool),
    "integer": lambda v: isinstance(v, int) and not isinstance(v, bool),
    "number": lambda v: isinstance(v, (int, float)) and not isinstance(v, bool),
}


def resolve(root, node):
    while "$ref" in node:
        name = node["$ref"].split("/")[-1]
        node = root["definitions"][name]
    return node


def validate(root, value, node, where, faults):
    node = resolve(root, node)
    if "anyOf" in node:
        if not any(not validate(root, value, alt, where, []) for alt in node["anyOf"]):
            faults.append(where + ": matches none of the forms")
        return faults
    kinds = node.get("type")
    if kinds is not None:
        kinds = [kinds] if isinstance(kinds, str) else kinds
        if not any(TYPES[k](value) for k in kinds):
            faults.append("%s: %r is not %s" % (where, value, " or ".join(kinds)))
            return faults
    if "enum" in node and value not in node["enum"]:
        faults.append("%s: %r is not one of %s" % (where, value, node["enum"]))
    if "minimum" in node and value < node["minimum"]:
        faults.append("%s: %r is below %s" % (where, value, node["minimum"]))
    if isinstance(value, dict):
        props = node.get("properties", {})
        for name in node.get("required", []):
            if name not in value:
                faults.append("%s: no field '%s'" % (where, name))
        extra = node.get("additionalProperties", True)
        for name, item in value.items():
            if name in props:
                validate(root, item, props[name], where + "." + name, faults)
            elif extra is False:
                faults.append("%s: field '%s' is not documented" % (where, name))
            elif isinstance(extra, dict):
                validate(root, item, extra, where + "." + name, faults)
    if isinstance(value, list) and "items" in node:
        for i, item in enumerate(value):
            validate(root, item, node["items"], "%s[%d]" % (where, i), faults)
    return faults


def field_types(root, node, seen, faults, where):
    node = resolve(root, node)
    for alt in node.get("anyOf", []):
        field_types(root, alt, seen, faults, where)
    for name, sub in node.get("properties", {}).items():
        kind = resolve(root, sub).get("type")
        kind = tuple(kind) if isinstance(kind, list) else kind
        if name in seen and seen[name][0] != kind:
            faults.append("'%s' is %s in %s but %s in %s" % (name, kind, where, seen[name][0], seen[name][1]))
        seen.setdefault(name, (kind, where))
        field_types(root, sub, seen, faults, where + "." + name)
    if isinstance(node.get("items"), dict):
        field_types(root, node["items"], seen, faults, where + "[]")
    return faults


def main():
    root = json.load(open(sys.argv[1]))
    if sys.argv[2] == "--fields":
        faults = field_types(root, root, {}, [], "")
    else:
        try:
            value = json.loads(sys.stdin.read())
        except ValueError as e:
            print("not one JSON document: %s" % e)
            return 1
        faults = validate(root, value, root["definitions"][sys.argv[2]], sys.argv[2], [])
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
