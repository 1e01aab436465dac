"""Every record layout table, in the module's declaration order, and the
lookups the tests share. Each subsystem's table lives in its own module."""

from _layout import arg1_message, arg2_message, getter, method_names, new, setter  # noqa: F401
from _kernel_records import RECORDS as KERNEL_RECORDS
from _flowcache_query_records import RECORDS as FLOWCACHE_QUERY_RECORDS

RECORDS = KERNEL_RECORDS + FLOWCACHE_QUERY_RECORDS

BY_NAME = {r.name: r for r in RECORDS}


def all_fields(kinds=None):
    """(record, field) pairs, optionally restricted to some field kinds."""
    return [(r, f) for r in RECORDS for f in r.fields if kinds is None or f.kind in kinds]


def field_id(pair):
    r, f = pair
    return "%s.%s" % (r.name, f.name)
