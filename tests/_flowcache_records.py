"""Layouts of the flow cache records: action contexts and action data,
invalidation entities and configuration options, and the statistics records
(the counter tree, per-port counters, hash-table statistics, flow counters).
Each table stands in the module's declaration order."""

from _layout import ARR, BITS, HW, Extra, Field, I, Record, U, UL, counters


def nested(name, type_name, offset, width):
    """A record held by value, copied by its setter."""
    return Field(name, "nested", type_name + " *", offset, width, target="_p_" + type_name)


def block(name, type_name, offset, width):
    """A read-only nested block: a view into the outer record, no setter."""
    return Field(name, "ro_nested", type_name + " *", offset, width, target="_p_" + type_name)

STATS_RECORDS = (
    Record("FC_CacheStats", 632, (
        block("lookup", "FC_CacheStats_lookup", 0, 256),
        block("actions", "FC_CacheStats_actions", 256, 280),
        block("actions_add", "FC_CacheStats_actions_add", 536, 8),
        block("fastpath", "FC_CacheStats_fastpath", 544, 88),
    )),
    Record("FC_CacheStats_lookup", 256, (
        U("failed", "hyp_uint64", 0, 64),
        U("unsupported", "hyp_uint64", 8, 64),
        U("fp_resumed", "hyp_uint64", 16, 64),
        U("repl_pkt_replace_fail", "hyp_uint64", 24, 64),
        U("actionGenList_appended", "hyp_uint64", 32, 64),
        U("action_handle_err", "hyp_uint64", 40, 64),
        U("nhits", "hyp_uint64", 48, 64),
        U("nmisses", "hyp_uint64", 56, 64),
        U("attr_set_failed", "hyp_uint64", 64, 64),
        U("attr_set_throttle", "hyp_uint64", 72, 64),
        U("fp_resume_failed", "hyp_uint64", 80, 64),
        U("dport_disabled_check_fail", "hyp_uint64", 88, 64),
        U("fe_inval_init_fail", "hyp_uint64", 96, 64),
        U("fe_hash_insert_fail", "hyp_uint64", 104, 64),
        U("multi_dest", "hyp_uint64", 112, 64),
        block("drop", "FC_CacheStats_lookup_drop", 120, 40),
        block("alloc", "FC_CacheStats_lookup_alloc", 160, 64),
        block("free", "FC_CacheStats_lookup_free", 224, 32),
    )),
    Record("FC_CacheStats_lookup_drop", 40, counters([
        "inval_port_data", "resume_fail", "dport_not_found", "dport_lock_fail", "status_free"
    ])),
    Record("FC_CacheStats_lookup_alloc", 64, counters([
        "fe", "actionEntity", "vdl2EncapData", "vdrData", "fe_fail", "actionEntity_fail",
        "vdl2EncapData_fail", "vdrData_fail"
    ])),
    Record("FC_CacheStats_lookup_free", 32, counters(["fe", "actionEntity", "vdl2EncapData", "vdrData"])),
    Record("FC_CacheStats_actions", 280, (
        U("doNotCache", "hyp_uint64", 0, 64),
        block("decap", "FC_CacheStats_actions_decap", 8, 56),
        block("encap", "FC_CacheStats_actions_encap", 64, 56),
        block("vlan", "FC_CacheStats_actions_vlan", 120, 8),
        block("prio", "FC_CacheStats_actions_prio", 128, 8),
        block("guest_vlan_insert", "FC_CacheStats_actions_guest_vlan_insert", 136, 32),
        block("guest_vlan_remove", "FC_CacheStats_actions_guest_vlan_remove", 168, 32),
        block("vdr", "FC_CacheStats_actions_vdr", 200, 32),
        block("trafficmark_dscp", "FC_CacheStats_actions_trafficmark_dscp", 232, 8),
        block("trafficmark_cos", "FC_CacheStats_actions_trafficmark_cos", 240, 8),
        block("drop", "FC_CacheStats_actions_drop", 248, 8),
        block("vni", "FC_CacheStats_actions_vni", 256, 16),
        block("slowpath", "FC_CacheStats_actions_slowpath", 272, 8),
    )),
    Record("FC_CacheStats_actions_decap", 56, (
        U("completed", "hyp_uint64", 0, 64),
        U("fromNestedTN", "hyp_uint64", 8, 64),
        U("clone", "hyp_uint64", 16, 64),
        U("frag_pkt", "hyp_uint64", 24, 64),
        block("drop", "FC_CacheStats_actions_decap_drop", 32, 24),
    )),
    Record("FC_CacheStats_actions_decap_drop", 24, counters([
        "noResource", "invalidEncap", "invalidLatency"
    ])),
    Record("FC_CacheStats_actions_encap", 56, (
        U("large_ip", "hyp_uint64", 0, 64),
        U("completed", "hyp_uint64", 8, 64),
        U("toNestedTN", "hyp_uint64", 16, 64),
        U("clone", "hyp_uint64", 24, 64),
        block("drop", "FC_CacheStats_actions_encap_drop", 32, 24),
    )),
    Record("FC_CacheStats_actions_encap_drop", 24, counters([
        "invalidFrame", "splitLargePacket", "invalidLatency"
    ])),
    Record("FC_CacheStats_actions_vlan", 8, counters(["completed"])),
    Record("FC_CacheStats_actions_prio", 8, counters(["completed"])),
    Record("FC_CacheStats_actions_guest_vlan_insert", 32, counters([
        "completed", "partialCopy", "errorActionHandle", "errorAddAction"
    ])),
    Record("FC_CacheStats_actions_guest_vlan_remove", 32, counters([
        "completed", "partialCopy", "errorActionHandle", "errorAddAction"
    ])),
    Record("FC_CacheStats_actions_vdr", 32, counters([
        "completedV4", "ttlExceeded", "completedV6", "hopLimitExceeded"
    ])),
    Record("FC_CacheStats_actions_trafficmark_dscp", 8, counters(["completed"])),
    Record("FC_CacheStats_actions_trafficmark_cos", 8, counters(["completed"])),
    Record("FC_CacheStats_actions_drop", 8, counters(["completed"])),
    Record("FC_CacheStats_actions_vni", 16, counters(["setCompleted", "clearCompleted"])),
    Record("FC_CacheStats_actions_slowpath", 8, counters(["completed"])),
    Record("FC_CacheStats_actions_add", 8, (
        block("errors", "FC_CacheStats_actions_add_errors", 0, 8),
    )),
    Record("FC_CacheStats_actions_add_errors", 8, counters(["src_mac_change"])),
    Record("FC_CacheStats_fastpath", 88, (
        block("multi_dest", "FC_CacheStats_fastpath_multi_dest", 0, 88),
    )),
    Record("FC_CacheStats_fastpath_multi_dest", 88, counters([
        "repl_pkt_fail", "repl_pkt_replace_fail", "last_acEntity_pkt_remove_fail",
        "bv_get_next_set_bit_fail", "ps_get_port_from_index_fail", "action_handle_err",
        "conf_actual_dports_mismatch", "dport_index_to_id_fail", "dport_not_found", "dport_lock_fail",
        "dports_num_mismatch"
    ])),
    Record("FC_PortStats", 32, counters([
        "pktsInUnicast", "bytesInUnicast", "pktsInMulticast", "bytesInMulticast"
    ])),
    Record("FCHashStats", 60, (
        U("nHitsMax", "hyp_uint32", 0, 32),
        U("nHitsMaxBcktId", "hyp_uint32", 4, 32),
        U("nEvictsMax", "hyp_uint32", 8, 32),
        U("nEvictsMaxBcktId", "hyp_uint32", 12, 32),
        U("nEvictsTotal", "hyp_uint32", 16, 32),
        U("fcState", "hyp_uint8", 20, 8),
        ARR("bucketLengthMap", "hyp_uint32 [8+1]", 24, "_p_unsigned_int", 9, 4),
    ), extras=(Extra("FCHashStats___getitem__", 2),)),
    Record("FC_HashStatsIOC", 4, (
        U("entries", "hyp_uint16", 0, 16),
        U("maxEntries", "hyp_uint16", 2, 16),
        Field("stats", "zarray", "FCHashStats [0]", 4, 60, target="_p_FCHashStats", elem_width=60),
    ), extras=(Extra("FC_HashStatsIOC___getitem__", 2),)),
    Record("FC_FlowStats", 24, (
        BITS("pktsSinceFlush", "hyp_uint64", 0, 8, 0, 56),
        BITS("ipVersion", "hyp_uint64", 0, 8, 56, 8),
        U("pktCount", "hyp_uint64", 8, 64),
        U("bytesSinceFlush", "hyp_uint64", 16, 64),
    )),
)

ACTION_RECORDS = (
    Record("FC_VDL2ActionContext", 32, (
        Field("clientHdl", "ptr", "FC_ClientHandle", 0, 8, target="_p__FC_ClientHandle"),
        ARR("ctx", "hyp_AddrCookie [3]", 8, "_p_hyp_AddrCookie", 3, 8),
    )),
    Record("FC_VDRActionContext", 24, (
        Field("clientHdl", "ptr", "FC_ClientHandle", 0, 8, target="_p__FC_ClientHandle"),
        ARR("ctx", "hyp_AddrCookie [2]", 8, "_p_hyp_AddrCookie", 2, 8),
    )),
    Record("FC_FWALActionContext", 40, (
        Field("clientHdl", "ptr", "FC_ClientHandle", 0, 8, target="_p__FC_ClientHandle"),
        ARR("ctx", "hyp_AddrCookie [4]", 8, "_p_hyp_AddrCookie", 4, 8),
    )),
    Record("FC_IPFIXActionContext", 16, (
        Field("clientHdl", "ptr", "FC_ClientHandle", 0, 8, target="_p__FC_ClientHandle"),
        ARR("ctx", "hyp_AddrCookie [1]", 8, "_p_hyp_AddrCookie", 1, 8),
    )),
    Record("FC_IPFIXSAMPLEActionContext", 24, (
        Field("clientHdl", "ptr", "FC_ClientHandle", 0, 8, target="_p__FC_ClientHandle"),
        ARR("ctx", "hyp_AddrCookie [2]", 8, "_p_hyp_AddrCookie", 2, 8),
    )),
    Record("FC_VSWITCHActionContext", 24, (
        Field("clientHdl", "ptr", "FC_ClientHandle", 0, 8, target="_p__FC_ClientHandle"),
        ARR("ctx", "hyp_AddrCookie [2]", 8, "_p_hyp_AddrCookie", 2, 8),
    )),
    Record("FC_VDL2EncapActionData", 168, (
        U("mtu", "hyp_uint16", 0, 16),
        U("vtepVlanID", "hyp_uint16", 2, 16),
        BITS("udpPortsInHash", "hyp_uint8", 4, 1, 0, 1),
        BITS("toNestedTN", "hyp_uint8", 4, 1, 1, 1),
        BITS("isV6", "hyp_uint8", 4, 1, 2, 1),
        BITS("pad", "hyp_uint8", 4, 1, 3, 5),
        Field("isUntrustedDscp", "bool", "hyp_Bool", 5, 1),
        U("optLen", "hyp_uint16", 6, 16),
        nested("actCtx", "FC_VDL2ActionContext", 8, 32),
        block("hc", "FC_VDL2EncapActionData_hc", 40, 128),
    )),
    Record("FC_VDL2EncapActionData_hc", 128, (
        block("hdrSpace", "FC_VDL2EncapActionData_hc_hdrSpace", 0, 128),
    )),
    Record("FC_VDL2EncapActionData_hc_hdrSpace", 128, (
        ARR("hdrCacheExt", "hyp_uint8 [64]", 0, "_p_unsigned_char", 64, 1),
        ARR("hdrCacheBlock", "hyp_uint8 [64]", 64, "_p_unsigned_char", 64, 1),
    )),
    Record("FC_VDL2EncapActionDataAttr", 86, (
        U("mtu", "hyp_uint16", 0, 16),
        U("sPort", "hyp_uint16", 2, 16),
        U("vtepVlanID", "hyp_uint16", 4, 16),
        nested("actCtx", "FC_VDL2ActionContext", 6, 32),
        HW("daddr", 38),
        HW("saddr", 44),
        BITS("label", "hyp_uint32", 50, 4, 0, 19),
        BITS("isGatewayVg", "hyp_uint32", 50, 4, 19, 1),
        BITS("toNestedTN", "hyp_uint32", 50, 4, 20, 1),
        BITS("udpPortsInHash", "hyp_uint32", 50, 4, 21, 1),
        BITS("isV6", "hyp_uint32", 50, 4, 22, 1),
        BITS("pad", "hyp_uint32", 50, 4, 23, 9),
    )),
    Record("FC_VDL2DecapActionData", 86, (
        U("vtepPortID", "hyp_SwitchPortID", 0, 32),
        BITS("label", "hyp_uint32", 4, 4, 0, 19),
        BITS("isV6", "hyp_uint32", 4, 4, 19, 1),
        BITS("isGeneve", "hyp_uint32", 4, 4, 20, 1),
        BITS("toNestedTN", "hyp_uint32", 4, 4, 21, 1),
        BITS("fromNestedTN", "hyp_uint32", 4, 4, 22, 1),
        BITS("pad1", "hyp_uint32", 4, 4, 23, 9),
        HW("dmac", 8),
        HW("smac", 14),
        U("vtepVlanID", "hyp_uint16", 20, 16),
        nested("actCtx", "FC_VDL2ActionContext", 54, 32),
    )),
    Record("FC_VDL2EncapGeneveHdrCache", 58, (
        nested("gh", "Geneve_Headers", 0, 50),
        nested("optHdr", "hyp_GeneveOptionHdr", 50, 4),
        nested("label", "OVLL2_GenOptDataLabel", 54, 4),
    )),
    Record("FC_VDL2TrafficMarkActionData", 2, (
        U("dscp", "hyp_uint8", 0, 8),
        U("cos", "hyp_uint8", 1, 8),
    )),
    Record("FC_VdrInfo", 8, (
        Field("decrTTL", "bool", "hyp_Bool", 0, 1),
        U("vdrFlType", "hyp_uint8", 1, 8),
        U("vdrId", "hyp_uint32", 4, 32),
    )),
    Record("FC_VDRInstanceData", 32, (
        nested("actCtx", "FC_VDRActionContext", 8, 24),
    )),
    Record("FC_VDRActionData", 110, (
        U("curInst", "hyp_uint8", 0, 8),
        BITS("hops", "hyp_uint8", 1, 1, 0, 7),
        BITS("isL4", "hyp_uint8", 1, 1, 7, 1),
        HW("daddr", 2),
        HW("saddr", 8),
        ARR("vdrActions", "FC_VDRInstanceData [3]", 14, "_p_FC_VDRInstanceData", 3, 32),
    )),
    Record("FC_FWALStatelessData", 24, (
        Field("rule", "void", "void *", 0, 8, target="_p_void"),
        Field("jumpRule", "void", "void *", 8, 8, target="_p_void"),
        Field("anchorRule", "void", "void *", 16, 8, target="_p_void"),
    )),
    Record("FC_FWALActionData", 64, (
        nested("actCtx", "FC_FWALActionContext", 0, 40),
        nested("stateless", "FC_FWALStatelessData", 40, 24),
    )),
    Record("FC_IPFIXActionData", 16, (
        nested("actCtx", "FC_IPFIXActionContext", 0, 16),
    )),
    Record("FC_KCPActionData", 10, (
        U("vlanID", "hyp_VlanID", 0, 16),
        U("inChildPortID", "hyp_SwitchPortID", 2, 32),
        U("outChildPortID", "hyp_SwitchPortID", 6, 32),
    )),
    Record("FC_VSwitchVlanActionData", 4, (
        U("priority", "hyp_VlanPriority", 0, 8),
        U("vlanID", "hyp_VlanID", 2, 16),
    )),
    Record("FC_VSwitchLookupEntryActionData", 24, (
        nested("actCtx", "FC_VSWITCHActionContext", 0, 24),
    )),
    Record("FC_OverlayVNIActionData", 4, (
        U("vni", "hyp_uint32", 0, 32),
    )),
)

INVAL_RECORDS = (
    Record("FC_InvalHashKeyValue", 4, (
        U("vdrId", "hyp_uint32", 0, 32),
        U("portId", "hyp_SwitchPortID", 0, 32),
    )),
    Record("FC_InvalHashKey", 5, (
        nested("val", "FC_InvalHashKeyValue", 0, 4),
        U("type", "hyp_uint8", 4, 8),
    )),
    Record("FC_InvalEntity", 72, (
        Field("hashLink", "void", "hyp_RCU_SList_Links", 0, 8, target="_p_void"),
        nested("ikey", "FC_InvalHashKey", 8, 5),
        nested("sPortStats", "FC_PortStats", 16, 32),
        UL("refCount", "hyp_atomic64", 48),
        UL("confGen", "hyp_atomic64", 56),
        U("flags", "hyp_uint8", 64, 8),
        U("dir", "hyp_uint8", 65, 8),
    )),
    Record("FC_IOCInvalEntries", 12, (
        U("globalConfGen", "hyp_uint64", 0, 64),
        U("numEntries", "hyp_uint32", 8, 32),
        Field("entries", "zarray", "FC_InvalEntity [0]", 12, 72, target="_p_FC_InvalEntity", elem_width=72),
    ), extras=(Extra("FC_IOCInvalEntries___getitem__", 2),)),
    Record("FC_InvalData", 8, (
        Field("invalidationData", "nested", "FC_InvalidationData *", 0, 4, target="_p_FC_InvalHashKeyValue"),
        Field("psName", "text", "char *", 0, 8),
    )),
    Record("FC_ConfigOptionData", 16, (
        U("optData", "hyp_uint64", 0, 64),
        I("type", "FC_ConfigOptionTypeIOC", 8),
    )),
)
