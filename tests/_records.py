"""Every record layout table, in the module's declaration order, and the
lookups the tests share. Each subsystem's table lives in its own module."""

from _layout import arg1_message, arg2_message, getter, method_names, new, setter  # noqa: F401
from _flowcache_records import ACTION_RECORDS, INVAL_RECORDS, STATS_RECORDS
from _kernel_records import RECORDS as KERNEL_RECORDS
from _flowcache_query_records import RECORDS as FLOWCACHE_QUERY_RECORDS
from _header_records import RECORDS as HEADER_RECORDS
from _switchstate_records import RECORDS as SWITCHSTATE_RECORDS


def _part(records, first, last):
    """The run of records from `first` to `last` in declaration order."""
    names = [r.name for r in records]
    return records[names.index(first):names.index(last) + 1]


KEY_RECORDS = _part(FLOWCACHE_QUERY_RECORDS, "FC_l2Key", "FC_FlowKey")
ENTRY_RECORDS = _part(FLOWCACHE_QUERY_RECORDS, "FC_ReplData", "FC_DVSPortPropData")
QUERY_RECORDS = _part(FLOWCACHE_QUERY_RECORDS, "FC_FlowsFilter", "FCVSIOCtlQuery")

# The declaration order of the C headers: kernel types, packet headers, the
# flow cache library, the switch state library.
RECORDS = (KERNEL_RECORDS + HEADER_RECORDS
           + KEY_RECORDS + STATS_RECORDS + ACTION_RECORDS + ENTRY_RECORDS + INVAL_RECORDS + QUERY_RECORDS
           + SWITCHSTATE_RECORDS)

BY_NAME = {r.name: r for r in RECORDS}


def all_fields(kinds=None):
    """(record, field) pairs, optionally restricted to some field kinds."""
    return [(r, f) for r in RECORDS for f in r.fields if kinds is None or f.kind in kinds]


def field_id(pair):
    r, f = pair
    return "%s.%s" % (r.name, f.name)
