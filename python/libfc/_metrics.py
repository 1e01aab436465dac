"""The flow cache as Prometheus metric families, the one definition the
exporter (``libfc exporter``) and ``libfc stats --prometheus`` share.

Every counter of the statistics tree is a counter family of its own, named
in the conventional way (``libfc_lookup_hits_total``), but for the counters
of one kind told apart by a label (``libfc_allocation_failures_total`` with
``kind``), which one expression has to cover together; the hash tables give
gauges of the flows they hold, their capacity and fill; the configuration
options are an info metric; ``libfc_up`` tells whether the library answered.

prometheus_client is the package's ``exporter`` extra: this module imports
it only when families are built, so reading the cache (``read``) and the
counter names (``COUNTERS``) need nothing beyond the package."""

import re
import sys
import threading
import time

from . import _cache, _emulator

PREFIX = "libfc_"

# Every counter of the statistics tree: its path in the tree (as stats()
# gives it) and the family it is exported as, without the prefix and the
# "_total" every counter family ends in.  The names are chosen to read well
# on a dashboard, not derived from the C fields.
COUNTERS = [
    ("lookup.failed", "lookup_failures"),
    ("lookup.unsupported", "lookup_unsupported"),
    ("lookup.fp_resumed", "lookup_fastpath_resumed"),
    ("lookup.repl_pkt_replace_fail", "lookup_replica_replace_failures"),
    ("lookup.actionGenList_appended", "lookup_action_lists_appended"),
    ("lookup.action_handle_err", "lookup_action_handle_errors"),
    ("lookup.nhits", "lookup_hits"),
    ("lookup.nmisses", "lookup_misses"),
    ("lookup.attr_set_failed", "lookup_attribute_set_failures"),
    ("lookup.attr_set_throttle", "lookup_attribute_sets_throttled"),
    ("lookup.fp_resume_failed", "lookup_fastpath_resume_failures"),
    ("lookup.dport_disabled_check_fail", "lookup_dport_disabled_check_failures"),
    ("lookup.fe_inval_init_fail", "lookup_flow_inval_init_failures"),
    ("lookup.fe_hash_insert_fail", "lookup_flow_hash_insert_failures"),
    ("lookup.multi_dest", "lookup_multi_destination"),
    ("lookup.drop.inval_port_data", "lookup_drops_invalid_port_data"),
    ("lookup.drop.resume_fail", "lookup_drops_resume_failure"),
    ("lookup.drop.dport_not_found", "lookup_drops_dport_not_found"),
    ("lookup.drop.dport_lock_fail", "lookup_drops_dport_lock_failure"),
    ("lookup.drop.status_free", "lookup_drops_status_free"),
    ("lookup.alloc.fe", "flow_entry_allocations"),
    ("lookup.alloc.actionEntity", "action_entity_allocations"),
    ("lookup.alloc.vdl2EncapData", "vdl2_encap_data_allocations"),
    ("lookup.alloc.vdrData", "vdr_data_allocations"),
    ("lookup.alloc.fe_fail", "allocation_failures{kind=flow_entry}"),
    ("lookup.alloc.actionEntity_fail", "allocation_failures{kind=action_entity}"),
    ("lookup.alloc.vdl2EncapData_fail", "allocation_failures{kind=vdl2_encap_data}"),
    ("lookup.alloc.vdrData_fail", "allocation_failures{kind=vdr_data}"),
    ("lookup.free.fe", "flow_entry_frees"),
    ("lookup.free.actionEntity", "action_entity_frees"),
    ("lookup.free.vdl2EncapData", "vdl2_encap_data_frees"),
    ("lookup.free.vdrData", "vdr_data_frees"),
    ("actions.doNotCache", "action_do_not_cache"),
    ("actions.decap.completed", "action_decap_completed"),
    ("actions.decap.fromNestedTN", "action_decap_from_nested_tn"),
    ("actions.decap.clone", "action_decap_clones"),
    ("actions.decap.frag_pkt", "action_decap_fragments"),
    ("actions.decap.drop.noResource", "action_decap_drops_no_resource"),
    ("actions.decap.drop.invalidEncap", "action_decap_drops_invalid_encap"),
    ("actions.decap.drop.invalidLatency", "action_decap_drops_invalid_latency"),
    ("actions.encap.large_ip", "action_encap_large_ip"),
    ("actions.encap.completed", "action_encap_completed"),
    ("actions.encap.toNestedTN", "action_encap_to_nested_tn"),
    ("actions.encap.clone", "action_encap_clones"),
    ("actions.encap.drop.invalidFrame", "action_encap_drops_invalid_frame"),
    ("actions.encap.drop.splitLargePacket", "action_encap_drops_split_large_packet"),
    ("actions.encap.drop.invalidLatency", "action_encap_drops_invalid_latency"),
    ("actions.vlan.completed", "action_vlan_completed"),
    ("actions.prio.completed", "action_priority_completed"),
    ("actions.guest_vlan_insert.completed", "action_guest_vlan_insert_completed"),
    ("actions.guest_vlan_insert.partialCopy", "action_guest_vlan_insert_partial_copies"),
    ("actions.guest_vlan_insert.errorActionHandle", "action_guest_vlan_insert_action_handle_errors"),
    ("actions.guest_vlan_insert.errorAddAction", "action_guest_vlan_insert_add_action_errors"),
    ("actions.guest_vlan_remove.completed", "action_guest_vlan_remove_completed"),
    ("actions.guest_vlan_remove.partialCopy", "action_guest_vlan_remove_partial_copies"),
    ("actions.guest_vlan_remove.errorActionHandle", "action_guest_vlan_remove_action_handle_errors"),
    ("actions.guest_vlan_remove.errorAddAction", "action_guest_vlan_remove_add_action_errors"),
    ("actions.vdr.completedV4", "action_vdr_completed_ipv4"),
    ("actions.vdr.ttlExceeded", "action_vdr_ttl_exceeded"),
    ("actions.vdr.completedV6", "action_vdr_completed_ipv6"),
    ("actions.vdr.hopLimitExceeded", "action_vdr_hop_limit_exceeded"),
    ("actions.trafficmark_dscp.completed", "action_traffic_mark_dscp_completed"),
    ("actions.trafficmark_cos.completed", "action_traffic_mark_cos_completed"),
    ("actions.drop.completed", "action_drop_completed"),
    ("actions.vni.setCompleted", "action_vni_set_completed"),
    ("actions.vni.clearCompleted", "action_vni_clear_completed"),
    ("actions.slowpath.completed", "action_slowpath_completed"),
    ("actions_add.errors.src_mac_change", "action_add_src_mac_change_errors"),
    ("fastpath.multi_dest.repl_pkt_fail", "fastpath_multi_dest_replica_failures"),
    ("fastpath.multi_dest.repl_pkt_replace_fail", "fastpath_multi_dest_replica_replace_failures"),
    ("fastpath.multi_dest.last_acEntity_pkt_remove_fail", "fastpath_multi_dest_last_entity_remove_failures"),
    ("fastpath.multi_dest.bv_get_next_set_bit_fail", "fastpath_multi_dest_port_bitmap_failures"),
    ("fastpath.multi_dest.ps_get_port_from_index_fail", "fastpath_multi_dest_port_from_index_failures"),
    ("fastpath.multi_dest.action_handle_err", "fastpath_multi_dest_action_handle_errors"),
    ("fastpath.multi_dest.conf_actual_dports_mismatch", "fastpath_multi_dest_configured_dports_mismatches"),
    ("fastpath.multi_dest.dport_index_to_id_fail", "fastpath_multi_dest_dport_index_failures"),
    ("fastpath.multi_dest.dport_not_found", "fastpath_multi_dest_dport_not_found"),
    ("fastpath.multi_dest.dport_lock_fail", "fastpath_multi_dest_dport_lock_failures"),
    ("fastpath.multi_dest.dports_num_mismatch", "fastpath_multi_dest_dport_count_mismatches"),
]
_NAMES = dict(COUNTERS)
# A name of the table may end in {label=value}: the counter is that series
# of a family it shares with other counters.
_SERIES = re.compile(r"(\w+)(?:\{(\w+)=(\w+)\})?$")

def _snake(text):
    return re.sub(r"(?<=[a-z0-9])([A-Z])", r"_\1", text).lower()


def counter_name(path):
    """The family name (without prefix and "_total") of the counter at the
    dotted `path`; a counter the table does not know gets its path in
    snake_case, so none is ever left out."""
    return counter_series(path)[0]


def counter_series(path):
    """(family name, {label: value}) of the counter at the dotted `path`:
    the labels tell it from the family's other counters, if it has any."""
    name, label, value = _SERIES.match(_NAMES.get(path) or _snake(path.replace(".", "_"))).groups()
    return name, ({label: value} if label else {})


def _counter_families(values, make, suffix, help_text):
    """One family per name of the counters (dotted path -> value), its
    series in the order of the counters; make(name, help, labels=...)."""
    found = {}
    for path, value in values.items():
        name, labels = counter_series(path)
        family = found.get(name)
        if family is None:
            family = found[name] = make(PREFIX + name + suffix, help_text(name, path, labels), labels=list(labels))
        family.add_metric(list(labels.values()), value)
    return list(found.values())


def leaves(tree, path=()):
    """(dotted path, value) of every counter of a stats() tree, in order."""
    for name, value in tree.items():
        if isinstance(value, dict):
            yield from leaves(value, path + (name,))
        else:
            yield ".".join(path + (name,)), value


def tables(hash_stats):
    """Per hash table of a hash_stats() document: flows held, capacity and
    whether it is enabled, evictions so far."""
    result = []
    per_bucket = _emulator.flows_per_bucket()  # buckets are what the histogram counts
    for table in hash_stats["tables"]:
        lengths = table["bucket_lengths"]
        result.append({
            "flows": sum(length * count for length, count in enumerate(lengths)),
            "capacity": sum(lengths) * per_bucket,
            "enabled": table["state"] == "enabled",
            "evictions": table["evicts_total"],
        })
    return result


def read():
    """Everything the families show, read from the library now (the counters
    by dotted path); raises what the library raises when it fails."""
    return {
        "counters": dict(leaves(_cache.stats())),
        "tables": tables(_cache.hash_stats()),
        "options": _cache.options(),
    }


def families(reading):
    """The metric families of a reading (from read()), libfc_up 1 included."""
    from prometheus_client.core import CounterMetricFamily, GaugeMetricFamily, InfoMetricFamily

    result = [GaugeMetricFamily(PREFIX + "up", "1 when the flow cache library answered the last read, else 0.",
                                value=1)]
    result.extend(_counter_families(reading["counters"], CounterMetricFamily, "", _counter_help))
    rows = reading["tables"]
    flows, capacity = sum(t["flows"] for t in rows), sum(t["capacity"] for t in rows)
    result.append(GaugeMetricFamily(PREFIX + "flows", "Flows in the cache.", value=flows))
    result.append(GaugeMetricFamily(PREFIX + "flows_capacity", "Flows the cache's hash tables hold at most.",
                                    value=capacity))
    per_table = [
        GaugeMetricFamily(PREFIX + "table_flows", "Flows in the hash table.", labels=["table"]),
        GaugeMetricFamily(PREFIX + "table_capacity", "Flows the hash table holds at most.", labels=["table"]),
        GaugeMetricFamily(PREFIX + "table_fill_ratio", "Share of the hash table's entries in use, 0 to 1.",
                          labels=["table"]),
        GaugeMetricFamily(PREFIX + "table_enabled", "1 when the hash table caches flows, else 0.",
                          labels=["table"]),
        CounterMetricFamily(PREFIX + "table_evictions", "Flows the hash table evicted from full buckets.",
                            labels=["table"]),
    ]
    for number, table in enumerate(rows, 1):
        label = [str(number)]
        fill = table["flows"] / table["capacity"] if table["capacity"] else 0.0
        for family, value in zip(per_table, (table["flows"], table["capacity"], fill, int(table["enabled"]),
                                             table["evictions"])):
            family.add_metric(label, value)
    result.extend(per_table)
    result.append(InfoMetricFamily(PREFIX + "options", "The flow cache's configuration options.",
                                   value={label: str(value) for label, value in reading["options"].items()}))
    return result


def _counter_help(name, path, labels):
    if labels:
        return "Flow cache statistics counters %s, by %s." % (name.replace("_", " "), ", ".join(labels))
    return "Flow cache statistics counter %s." % path


def failure_families(error):
    """The families of a read that failed: libfc_up 0 and the error."""
    from prometheus_client.core import GaugeMetricFamily, InfoMetricFamily

    text = str(error) or type(error).__name__
    return [GaugeMetricFamily(PREFIX + "up", "1 when the flow cache library answered the last read, else 0.",
                              value=0),
            InfoMetricFamily(PREFIX + "error", "Why the flow cache library did not answer the last read.",
                             value={"error": text})]


def rate_families(rates):
    """Per-second rates of the counters (dotted path -> rate) as gauge families."""
    from prometheus_client.core import GaugeMetricFamily

    return _counter_families(rates, GaugeMetricFamily, "_per_second",
                             lambda name, path, labels: "Per-second rate of %s%s_total." % (PREFIX, name))


def exposition(family_list):
    """The families in the Prometheus text format."""
    from prometheus_client import CollectorRegistry, generate_latest

    class _Fixed:
        def collect(self):
            return family_list

    registry = CollectorRegistry(auto_describe=False)
    registry.register(_Fixed())
    return generate_latest(registry).decode("utf-8")


class Collector:
    """A prometheus_client collector that reads the cache at every scrape;
    a failing library gives libfc_up 0 and the error, never a failed scrape.
    Scrapes that overlap read one after the other. The library starting to
    fail, and answering again, are each one line on standard error (not one
    per scrape: a scrape every few seconds would bury the log)."""

    def __init__(self, reader=read, log=None):
        self.reader = reader
        self.lock = threading.Lock()
        self.failing = False
        self.log = log or (lambda line: (sys.stderr.write(line + "\n"), sys.stderr.flush()))

    def collect(self):
        from prometheus_client.core import GaugeMetricFamily

        started = time.monotonic()
        with self.lock:
            try:
                found = families(self.reader())
            except Exception as error:  # whatever happens, the scrape answers
                found = failure_families(error)
                if not self.failing:
                    self.log("libfc exporter: the flow cache library fails: %s" % (str(error) or type(error).__name__))
                self.failing = True
            else:
                if self.failing:
                    self.log("libfc exporter: the flow cache library answers again")
                self.failing = False
        found.append(GaugeMetricFamily(PREFIX + "scrape_duration_seconds", "Time the last read of the cache took.",
                                       value=time.monotonic() - started))
        return found

    def describe(self):
        return []
