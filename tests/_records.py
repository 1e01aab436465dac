"""Every record layout (see _layout.py), in the module's declaration order,
and the lookups the tests share."""

from _layout import arg1_message, arg2_message, getter, method_names, new, read_records, setter  # noqa: F401

RECORDS = read_records()
BY_NAME = {r.name: r for r in RECORDS}


def from_files(*prefixes):
    """The records described in the files under these folders."""
    return tuple(r for r in RECORDS if r.source.startswith(prefixes))


def all_fields(kinds=None):
    """(record, field) pairs, optionally restricted to some field kinds."""
    return [(r, f) for r in RECORDS for f in r.fields if kinds is None or f.kind in kinds]


def field_id(pair):
    r, f = pair
    return "%s.%s" % (r.name, f.name)
