/*
 * Flow cache control library (libfc): flow query, key, entry, action,
 * invalidation and statistics records, and the library's functions.
 */
#ifndef LIBFC_H
#define LIBFC_H

#include "hyp_kernel_types.h"
#include "hyp_packet_headers.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * All records are memory images in the library's layout.  Those marked
 * __attribute__((packed)) are exchanged byte for byte with the datapath
 * (device-request results and client attributes), where no padding is
 * allowed and 64-bit fields may start at odd offsets; the others use
 * natural alignment.
 */

/* ---- Limits ----------------------------------------------------------- */

#define FC_MAX_OUT_ACTION_ENTITIES_PER_FLOW  4
#define FC_MAX_OUT_AC_IOC                    4
#define FC_MAX_DPORTS_IOC                    4096
#define FC_MAX_ENTRIES_PER_CACHE_BUCKET      8
#define FC_VDR_MAX_ACTION_INSTANCES          3

#define FC_VDR_ACTION_CTX_NUM                2
#define FC_VDL2_ACTION_CTX_NUM               3
#define FC_VSWITCH_ACTION_CTX_NUM            2
#define FC_IPFIX_ACTION_CTX_NUM              1
#define FC_IPFIXSAMPLE_ACTION_CTX_NUM        2
#define FC_FWAL_ACTION_CTX_NUM               4

#define FC_FLOWKEY_IPV6                      1   /* FC_FlowKey.flags: ipKey holds IPv6 */

/* ---- Enumerations ------------------------------------------------------ */

/* Action kinds; bit n of an actionsBitMap stands for the kind of value n. */
typedef enum FC_FastPathActions {
    FC_ACTION_DO_NOT_CACHE,
    FC_ACTION_VDR_TTL_CHECK,
    FC_ACTION_KCP_INPUT,
    FC_ACTION_LRO,
    FC_ACTION_IPFIX_INGRESS,
    FC_ACTION_DROP,
    FC_ACTION_DFW_TO_SWITCH,
    FC_ACTION_DST_PORT,
    FC_ACTION_SLOWPATH,
    FC_ACTION_FLOW_EXPR_TIME,
    FC_ACTION_VSWITCH_VLAN_INSERT,
    FC_ACTION_VSWITCH_VLAN_REMOVE,
    FC_ACTION_VSWITCH_PRIO_INSERT,
    FC_ACTION_VSWITCH_PRIO_REMOVE,
    FC_ACTION_VDL2_TRAFFICMARK_COS,
    FC_ACTION_VDL2_TRAFFICMARK_DSCP,
    FC_ACTION_VDL2_GUEST_VLAN_INSERT,
    FC_ACTION_VSWITCH_LOOKUP_ENTRY_UPDATE,
    FC_ACTION_MIRROR_INGRESS,
    FC_ACTION_DST_MAC_CHANGE,
    FC_ACTION_VDR_ROUTE,
    FC_ACTION_SRC_MAC_CHANGE,
    FC_ACTION_OVERLAY_VNI_SET,
    FC_ACTION_VDL2_DECAP_GENEVE,
    FC_ACTION_VDL2_DECAP_VXLAN,
    FC_ACTION_VDL2_ENCAP_GENEVE,
    FC_ACTION_VDL2_ENCAP_VXLAN,
    FC_ACTION_VDL2_GUEST_VLAN_REMOVE,
    FC_ACTION_OVERLAY_VNI_CLEAR,
    FC_ACTION_PROCESS_V4ENCAP,
    FC_ACTION_IPFIX_EGRESS,
    FC_ACTION_DFW_FROM_SWITCH,
    FC_ACTION_MIRROR_EGRESS,
    FC_ACTION_KCP_OUTPUT,
    FC_ACTION_ADD_INNER_FLOW,
    FC_ACTION_L3_VLAN_ROUTED,
    FC_ACTION_LTR,
    FC_ACTION_META_FLOW,
    FC_ACTION_MAX                       /* number of kinds */
} FC_FastPathActions;

/* Request numbers of the flow cache's character device. */
enum {
    FC_IOCMD_REMOVE_FLOWS,
    FC_IOCMD_GET_FLOW_CACHE_ENABLE,
    FC_IOCMD_GET_PORT_FLOW_CACHE_ENABLED,
    FC_IOCMD_GET_FLOWS_FILTER,
    FC_IOCMD_GET_FLOW_CACHE_INVAL_ENTRIES,
    FC_IOCMD_GET_FLOW_CACHE_HASH_STATS,
    FC_IOCMD_GET_FLOW_CACHE_STATS,
    FC_IOCMD_GET_CONFIG_OPTION,
    FC_IOCMD_GET_FLOW_CACHE_ACTION_DATA,
    FC_IOCMD_GET_FLOW_CACHE_STATS_PER_FLOW,
    FC_IOCMD_SET_CONFIG_OPTION,
    FC_IOCMD_SET_INVAL_FLOWS,
    FC_IOCMD_SET_FLOW_CACHE_ENABLE,
    FC_IOCMD_INVALIDATE_ENTRY
};

typedef enum FC_ConfigOptionTypeIOC {
    FC_IOC_STATS_LEVEL       = 0,
    FC_IOC_LOG_LEVEL         = 1,
    FC_IOC_EXPR_TIME         = 2,
    FC_IOC_AGING_INTERVAL    = 3,
    FC_IOC_DISABLE_THRESHOLD = 4
} FC_ConfigOptionTypeIOC;

typedef enum FC_InvalHashKeyType {
    FC_INVAL_HASH_KEY_TYPE_INVALID = 0,
    FC_INVAL_HASH_KEY_TYPE_VDRID   = 1,
    FC_INVAL_HASH_KEY_TYPE_PORTID  = 2
} FC_InvalHashKeyType;

/* Value of the per-port enablement property; a direction bit set. */
typedef enum FC_DVSPortEnableDir {
    FC_PORT_DISABLE            = 0,
    FC_PORT_ENABLE_DIR_INGRESS = 1,
    FC_PORT_ENABLE_DIR_EGRESS  = 2,
    FC_PORT_ENABLE_DIR_ALL     = 3
} FC_DVSPortEnableDir;

/* Flag bits of FC_FlowEntryIOC.fcFlags. */
typedef enum FC_FlowEntryFlags {
    FC_FLOW_ENTRY_FLAG_INUSE           = 1,
    FC_FLOW_ENTRY_DEST_UPLINK          = 2,
    FC_FLOW_ENTRY_FLAG_MULTI_PORTS     = 4,
    FC_FLOW_ENTRY_FLAG_SLOWPATH        = 8,
    FC_FLOW_ENTRY_FLAG_DROP            = 16,
    FC_FLOW_ENTRY_FLAG_DO_INNER_LOOKUP = 32
} FC_FlowEntryFlags;

/* Flag bits of FC_FlowEntryAttr.flags. */
typedef enum FC_FlowEntryAttrFlags {
    FC_FE_ATTR_FLAGS_MULTI_PORT   = 1,
    FC_FE_ATTR_FLAGS_IMPL_FC      = 2,
    FC_FE_ATTR_FLAGS_REVALIDATION = 4,
    FC_FE_ATTR_FLAGS_REFRESH      = 8
} FC_FlowEntryAttrFlags;

typedef enum FC_ReplReq {
    FC_REPL_REQ_NONE         = 0,
    FC_REPL_REQ_PARTIAL_COPY = 1,
    FC_REPL_REQ_DUPLICATE    = 2
} FC_ReplReq;

typedef enum FC_InvalGetOption {
    FC_GET_INVAL_COUNT   = 1,
    FC_GET_INVAL_ENTRIES = 2
} FC_InvalGetOption;

typedef enum FC_OpState {
    FC_STATE_ENABLED  = 0,
    FC_STATE_DISABLED = 1
} FC_OpState;

/* ---- Opaque types ------------------------------------------------------- */

/* A client's registration with the cache; only the library sees inside. */
typedef struct _FC_ClientHandle *FC_ClientHandle;

/* Library-internal objects known only by pointer. */
typedef struct Rpx_InvalEntity Rpx_InvalEntity;
typedef struct IpfixRecord IpfixRecord;

/* ---- Flow key ------------------------------------------------------------ */

typedef struct FC_l2Key {
    unsigned char saddr[6];
    unsigned char daddr[6];
    hyp_uint16 etype;
    hyp_uint16 vlanid;
} FC_l2Key;

/* Addresses in network order (first octet at the lowest address). */
typedef struct FC_ipv4Key {
    hyp_uint32 sip;
    hyp_uint32 dip;
} FC_ipv4Key;

typedef struct FC_ipv6Key {
    unsigned char sip[16];
    unsigned char dip[16];
} FC_ipv6Key;

/* Inner layer-2 header, for flows matched after decapsulation. */
typedef struct FC_FlowKey_inner {
    FC_l2Key l2Key;
} FC_FlowKey_inner;

/* The address pair; FC_FlowKey.flags tells which member is meaningful. */
typedef union FC_FlowKey_ipKey {
    FC_ipv4Key ipv4Key;
    FC_ipv6Key ipv6Key;
} FC_FlowKey_ipKey;

typedef struct FC_FlowKey {
    hyp_SwitchPortID portID;
    hyp_uint32 vni;
    FC_l2Key l2Key;
    hyp_uint8 flags;                    /* FC_FLOWKEY_IPV6 */
    hyp_uint8 proto;
    hyp_uint8 pad[2];
    FC_FlowKey_inner inner;
    FC_FlowKey_ipKey ipKey;
} FC_FlowKey;

/* ---- Statistics ---------------------------------------------------------- */

typedef struct FC_CacheStats_lookup_drop {
    hyp_uint64 inval_port_data;
    hyp_uint64 resume_fail;
    hyp_uint64 dport_not_found;
    hyp_uint64 dport_lock_fail;
    hyp_uint64 status_free;
} FC_CacheStats_lookup_drop;

typedef struct FC_CacheStats_lookup_alloc {
    hyp_uint64 fe;
    hyp_uint64 actionEntity;
    hyp_uint64 vdl2EncapData;
    hyp_uint64 vdrData;
    hyp_uint64 fe_fail;
    hyp_uint64 actionEntity_fail;
    hyp_uint64 vdl2EncapData_fail;
    hyp_uint64 vdrData_fail;
} FC_CacheStats_lookup_alloc;

typedef struct FC_CacheStats_lookup_free {
    hyp_uint64 fe;
    hyp_uint64 actionEntity;
    hyp_uint64 vdl2EncapData;
    hyp_uint64 vdrData;
} FC_CacheStats_lookup_free;

typedef struct FC_CacheStats_lookup {
    hyp_uint64 failed;
    hyp_uint64 unsupported;
    hyp_uint64 fp_resumed;
    hyp_uint64 repl_pkt_replace_fail;
    hyp_uint64 actionGenList_appended;
    hyp_uint64 action_handle_err;
    hyp_uint64 nhits;
    hyp_uint64 nmisses;
    hyp_uint64 attr_set_failed;
    hyp_uint64 attr_set_throttle;
    hyp_uint64 fp_resume_failed;
    hyp_uint64 dport_disabled_check_fail;
    hyp_uint64 fe_inval_init_fail;
    hyp_uint64 fe_hash_insert_fail;
    hyp_uint64 multi_dest;
    FC_CacheStats_lookup_drop drop;
    FC_CacheStats_lookup_alloc alloc;
    FC_CacheStats_lookup_free free;
} FC_CacheStats_lookup;

typedef struct FC_CacheStats_actions_decap_drop {
    hyp_uint64 noResource;
    hyp_uint64 invalidEncap;
    hyp_uint64 invalidLatency;
} FC_CacheStats_actions_decap_drop;

typedef struct FC_CacheStats_actions_decap {
    hyp_uint64 completed;
    hyp_uint64 fromNestedTN;
    hyp_uint64 clone;
    hyp_uint64 frag_pkt;
    FC_CacheStats_actions_decap_drop drop;
} FC_CacheStats_actions_decap;

typedef struct FC_CacheStats_actions_encap_drop {
    hyp_uint64 invalidFrame;
    hyp_uint64 splitLargePacket;
    hyp_uint64 invalidLatency;
} FC_CacheStats_actions_encap_drop;

typedef struct FC_CacheStats_actions_encap {
    hyp_uint64 large_ip;
    hyp_uint64 completed;
    hyp_uint64 toNestedTN;
    hyp_uint64 clone;
    FC_CacheStats_actions_encap_drop drop;
} FC_CacheStats_actions_encap;

typedef struct FC_CacheStats_actions_vlan {
    hyp_uint64 completed;
} FC_CacheStats_actions_vlan;

typedef struct FC_CacheStats_actions_prio {
    hyp_uint64 completed;
} FC_CacheStats_actions_prio;

typedef struct FC_CacheStats_actions_guest_vlan_insert {
    hyp_uint64 completed;
    hyp_uint64 partialCopy;
    hyp_uint64 errorActionHandle;
    hyp_uint64 errorAddAction;
} FC_CacheStats_actions_guest_vlan_insert;

typedef struct FC_CacheStats_actions_guest_vlan_remove {
    hyp_uint64 completed;
    hyp_uint64 partialCopy;
    hyp_uint64 errorActionHandle;
    hyp_uint64 errorAddAction;
} FC_CacheStats_actions_guest_vlan_remove;

typedef struct FC_CacheStats_actions_vdr {
    hyp_uint64 completedV4;
    hyp_uint64 ttlExceeded;
    hyp_uint64 completedV6;
    hyp_uint64 hopLimitExceeded;
} FC_CacheStats_actions_vdr;

typedef struct FC_CacheStats_actions_trafficmark_dscp {
    hyp_uint64 completed;
} FC_CacheStats_actions_trafficmark_dscp;

typedef struct FC_CacheStats_actions_trafficmark_cos {
    hyp_uint64 completed;
} FC_CacheStats_actions_trafficmark_cos;

typedef struct FC_CacheStats_actions_drop {
    hyp_uint64 completed;
} FC_CacheStats_actions_drop;

typedef struct FC_CacheStats_actions_vni {
    hyp_uint64 setCompleted;
    hyp_uint64 clearCompleted;
} FC_CacheStats_actions_vni;

typedef struct FC_CacheStats_actions_slowpath {
    hyp_uint64 completed;
} FC_CacheStats_actions_slowpath;

typedef struct FC_CacheStats_actions {
    hyp_uint64 doNotCache;
    FC_CacheStats_actions_decap decap;
    FC_CacheStats_actions_encap encap;
    FC_CacheStats_actions_vlan vlan;
    FC_CacheStats_actions_prio prio;
    FC_CacheStats_actions_guest_vlan_insert guest_vlan_insert;
    FC_CacheStats_actions_guest_vlan_remove guest_vlan_remove;
    FC_CacheStats_actions_vdr vdr;
    FC_CacheStats_actions_trafficmark_dscp trafficmark_dscp;
    FC_CacheStats_actions_trafficmark_cos trafficmark_cos;
    FC_CacheStats_actions_drop drop;
    FC_CacheStats_actions_vni vni;
    FC_CacheStats_actions_slowpath slowpath;
} FC_CacheStats_actions;

typedef struct FC_CacheStats_actions_add_errors {
    hyp_uint64 src_mac_change;
} FC_CacheStats_actions_add_errors;

typedef struct FC_CacheStats_actions_add {
    FC_CacheStats_actions_add_errors errors;
} FC_CacheStats_actions_add;

typedef struct FC_CacheStats_fastpath_multi_dest {
    hyp_uint64 repl_pkt_fail;
    hyp_uint64 repl_pkt_replace_fail;
    hyp_uint64 last_acEntity_pkt_remove_fail;
    hyp_uint64 bv_get_next_set_bit_fail;
    hyp_uint64 ps_get_port_from_index_fail;
    hyp_uint64 action_handle_err;
    hyp_uint64 conf_actual_dports_mismatch;
    hyp_uint64 dport_index_to_id_fail;
    hyp_uint64 dport_not_found;
    hyp_uint64 dport_lock_fail;
    hyp_uint64 dports_num_mismatch;
} FC_CacheStats_fastpath_multi_dest;

typedef struct FC_CacheStats_fastpath {
    FC_CacheStats_fastpath_multi_dest multi_dest;
} FC_CacheStats_fastpath;

/* The cache's counter tree.  actions_add belongs to the root, not to
 * actions. */
typedef struct FC_CacheStats {
    FC_CacheStats_lookup lookup;
    FC_CacheStats_actions actions;
    FC_CacheStats_actions_add actions_add;
    FC_CacheStats_fastpath fastpath;
} FC_CacheStats;

/* Per-port traffic counters of an invalidation entity. */
typedef struct FC_PortStats {
    hyp_uint64 pktsInUnicast;
    hyp_uint64 bytesInUnicast;
    hyp_uint64 pktsInMulticast;
    hyp_uint64 bytesInMulticast;
} FC_PortStats;

/* Statistics of one hash table; bucketLengthMap counts buckets by chain
 * length, the last element standing for full buckets and beyond. */
typedef struct FCHashStats {
    hyp_uint32 nHitsMax;
    hyp_uint32 nHitsMaxBcktId;
    hyp_uint32 nEvictsMax;
    hyp_uint32 nEvictsMaxBcktId;
    hyp_uint32 nEvictsTotal;
    hyp_uint8 fcState;
    hyp_uint32 bucketLengthMap[FC_MAX_ENTRIES_PER_CACHE_BUCKET + 1];
} FCHashStats;

/* Hash statistics buffer: a header followed by `entries` FCHashStats. */
typedef struct FC_HashStatsIOC {
    hyp_uint16 entries;
    hyp_uint16 maxEntries;
    FCHashStats stats[0];
} FC_HashStatsIOC;

/* Counters of one flow; ipVersion occupies the top byte of the first word. */
typedef struct FC_FlowStats {
    hyp_uint64 pktsSinceFlush:56;
    hyp_uint64 ipVersion:8;
    hyp_uint64 pktCount;
    hyp_uint64 bytesSinceFlush;
} FC_FlowStats;

/* ---- Action contexts and action data -------------------------------------- */

/* Each acting client's data starts with its handle and a fixed number of
 * cookies whose meaning is the client's own. */
typedef struct FC_VDL2ActionContext {
    FC_ClientHandle clientHdl;
    hyp_AddrCookie ctx[FC_VDL2_ACTION_CTX_NUM];
} FC_VDL2ActionContext;

typedef struct FC_VDRActionContext {
    FC_ClientHandle clientHdl;
    hyp_AddrCookie ctx[FC_VDR_ACTION_CTX_NUM];
} FC_VDRActionContext;

typedef struct FC_FWALActionContext {
    FC_ClientHandle clientHdl;
    hyp_AddrCookie ctx[FC_FWAL_ACTION_CTX_NUM];
} FC_FWALActionContext;

typedef struct FC_IPFIXActionContext {
    FC_ClientHandle clientHdl;
    hyp_AddrCookie ctx[FC_IPFIX_ACTION_CTX_NUM];
} FC_IPFIXActionContext;

typedef struct FC_IPFIXSAMPLEActionContext {
    FC_ClientHandle clientHdl;
    hyp_AddrCookie ctx[FC_IPFIXSAMPLE_ACTION_CTX_NUM];
} FC_IPFIXSAMPLEActionContext;

typedef struct FC_VSWITCHActionContext {
    FC_ClientHandle clientHdl;
    hyp_AddrCookie ctx[FC_VSWITCH_ACTION_CTX_NUM];
} FC_VSWITCHActionContext;

/* Raw header space of the encapsulation header cache. */
typedef struct FC_VDL2EncapActionData_hc_hdrSpace {
    hyp_uint8 hdrCacheExt[64];
    hyp_uint8 hdrCacheBlock[64];
} FC_VDL2EncapActionData_hc_hdrSpace;

typedef struct FC_VDL2EncapActionData_hc {
    FC_VDL2EncapActionData_hc_hdrSpace hdrSpace;
} FC_VDL2EncapActionData_hc;

/* Tunnel encapsulation data as the datapath keeps it. */
typedef struct FC_VDL2EncapActionData {
    hyp_uint16 mtu;
    hyp_uint16 vtepVlanID;
    hyp_uint8 udpPortsInHash:1;
    hyp_uint8 toNestedTN:1;
    hyp_uint8 isV6:1;
    hyp_uint8 pad:5;
    hyp_Bool isUntrustedDscp;
    hyp_uint16 optLen;
    FC_VDL2ActionContext actCtx;
    FC_VDL2EncapActionData_hc hc;
} FC_VDL2EncapActionData;

/* Tunnel encapsulation data as a client hands it to the cache. */
typedef struct __attribute__((packed)) FC_VDL2EncapActionDataAttr {
    hyp_uint16 mtu;
    hyp_uint16 sPort;
    hyp_uint16 vtepVlanID;
    FC_VDL2ActionContext actCtx;
    unsigned char daddr[6];
    unsigned char saddr[6];
    hyp_uint32 label:19;
    hyp_uint32 isGatewayVg:1;
    hyp_uint32 toNestedTN:1;
    hyp_uint32 udpPortsInHash:1;
    hyp_uint32 isV6:1;
    hyp_uint32 pad:9;
    hyp_uint8 opaque[32];               /* carried unchanged, no accessor */
} FC_VDL2EncapActionDataAttr;

/* Tunnel decapsulation data. */
typedef struct __attribute__((packed)) FC_VDL2DecapActionData {
    hyp_SwitchPortID vtepPortID;
    hyp_uint32 label:19;
    hyp_uint32 isV6:1;
    hyp_uint32 isGeneve:1;
    hyp_uint32 toNestedTN:1;
    hyp_uint32 fromNestedTN:1;
    hyp_uint32 pad1:9;
    unsigned char dmac[6];
    unsigned char smac[6];
    hyp_uint16 vtepVlanID;
    hyp_uint8 opaque[32];               /* carried unchanged, no accessor */
    FC_VDL2ActionContext actCtx;
} FC_VDL2DecapActionData;

/* A cached Geneve header set: outer headers, one option header and its
 * label data, back to back. */
typedef struct FC_VDL2EncapGeneveHdrCache {
    Geneve_Headers gh;
    hyp_GeneveOptionHdr optHdr;
    OVLL2_GenOptDataLabel label;
} FC_VDL2EncapGeneveHdrCache;

typedef struct FC_VDL2TrafficMarkActionData {
    hyp_uint8 dscp;
    hyp_uint8 cos;
} FC_VDL2TrafficMarkActionData;

/* Router instance information. */
typedef struct FC_VdrInfo {
    hyp_Bool decrTTL;
    hyp_uint8 vdrFlType;
    hyp_uint32 vdrId;
} FC_VdrInfo;

/* One router instance's data.  vdrInfo has no field accessor; it is reached
 * through FC_VDRActionData_get_instance. */
typedef struct FC_VDRInstanceData {
    FC_VdrInfo vdrInfo;
    FC_VDRActionContext actCtx;
} FC_VDRInstanceData;

/* Distributed router data; packed, so instance i lies at 14 + 32 * i. */
typedef struct __attribute__((packed)) FC_VDRActionData {
    hyp_uint8 curInst;
    hyp_uint8 hops:7;
    hyp_uint8 isL4:1;
    unsigned char daddr[6];
    unsigned char saddr[6];
    FC_VDRInstanceData vdrActions[FC_VDR_MAX_ACTION_INSTANCES];
} FC_VDRActionData;

/* References to the firewall rules that matched. */
typedef struct FC_FWALStatelessData {
    void *rule;
    void *jumpRule;
    void *anchorRule;
} FC_FWALStatelessData;

typedef struct FC_FWALActionData {
    FC_FWALActionContext actCtx;
    FC_FWALStatelessData stateless;
} FC_FWALActionData;

typedef struct FC_IPFIXActionData {
    FC_IPFIXActionContext actCtx;
} FC_IPFIXActionData;

typedef struct __attribute__((packed)) FC_KCPActionData {
    hyp_VlanID vlanID;
    hyp_SwitchPortID inChildPortID;
    hyp_SwitchPortID outChildPortID;
} FC_KCPActionData;

typedef struct FC_VSwitchVlanActionData {
    hyp_VlanPriority priority;
    hyp_VlanID vlanID;
} FC_VSwitchVlanActionData;

typedef struct FC_VSwitchLookupEntryActionData {
    FC_VSWITCHActionContext actCtx;
} FC_VSwitchLookupEntryActionData;

typedef struct FC_OverlayVNIActionData {
    hyp_uint32 vni;
} FC_OverlayVNIActionData;

/* ---- Flow entry and client records -------------------------------------- */

/* Replication request of an action entity. */
typedef struct FC_ReplData {
    FC_ReplReq replReq;
    hyp_ByteCountSmall frameBytes;
    hyp_uint16 headroomLen;
} FC_ReplData;

/* The clients' action data in the form a client hands it in. */
typedef struct FC_ClientDataAttr {
    FC_VSwitchLookupEntryActionData vsLookupData;
    FC_VDL2TrafficMarkActionData vdl2TmData;
    FC_KCPActionData kcpData;
    FC_OverlayVNIActionData vniData;
    FC_VSwitchVlanActionData vlanData;
    hyp_uint8 vdl2Opaque[86];           /* tunnel data; carried unchanged, no accessor */
    FC_VDRActionData vdrData;
    FC_FWALActionData fwalIngressData;
    FC_FWALActionData fwalEgressData;
    FC_IPFIXActionData ipfixIngressData;
    FC_IPFIXActionData ipfixEgressData;
} FC_ClientDataAttr;

typedef struct FC_ActionEntityAttr {
    FC_ClientDataAttr clientData;
    hyp_uint64 actionsBitMap;           /* bit n: FC_FastPathActions value n */
    FC_ReplData replData;
    hyp_uint16 numConfDports;
} FC_ActionEntityAttr;

/* A flow entry's attributes.  The leading key image has no accessor. */
typedef struct FC_FlowEntryAttr {
    FC_FlowKey fkey;
    FC_FlowEntryAttrFlags flags;
    FC_ActionEntityAttr actionEntity;
    hyp_uint64 created;
    hyp_uint64 confGen;
    hyp_uint8 fpLcoreIndex;
    hyp_uint16 actionIndex;
} FC_FlowEntryAttr;

/* The clients' action data as the datapath keeps it: the encapsulation and
 * router data are referred to by pointer instead of embedded. */
typedef struct FC_ClientData {
    FC_VSwitchVlanActionData vlanData;
    FC_VSwitchLookupEntryActionData vsLookupData;
    FC_VDL2TrafficMarkActionData vdl2TmData;
    FC_OverlayVNIActionData vniData;
    FC_VDL2DecapActionData vdl2DecapData;
    FC_VDL2EncapActionData *vdl2EncapData;
    FC_VDRActionData *vdrData;
} FC_ClientData;

/* Value of the per-port cache enablement property. */
typedef struct FC_DVSPortPropData {
    FC_DVSPortEnableDir dir;
} FC_DVSPortPropData;

/* ---- Invalidation and configuration ---------------------------------------- */

typedef union FC_InvalHashKeyValue {
    hyp_uint32 vdrId;
    hyp_SwitchPortID portId;
} FC_InvalHashKeyValue;

typedef FC_InvalHashKeyValue FC_InvalidationData;

/* Packed: the key type byte directly follows the 4-byte value. */
typedef struct __attribute__((packed)) FC_InvalHashKey {
    FC_InvalHashKeyValue val;
    hyp_uint8 type;                     /* FC_InvalHashKeyType */
} FC_InvalHashKey;

typedef struct FC_InvalEntity {
    hyp_RCU_SList_Links hashLink;       /* link in the library's hash chain */
    FC_InvalHashKey ikey;
    FC_PortStats sPortStats;
    hyp_atomic64 refCount;
    hyp_atomic64 confGen;
    hyp_uint8 flags;
    hyp_uint8 dir;
} FC_InvalEntity;

/* Invalidation table as the library returns it: a packed 12-byte header
 * followed by numEntries entities, so the entities' 64-bit fields are not
 * 8-byte aligned in the buffer. */
typedef struct __attribute__((packed)) FC_IOCInvalEntries {
    hyp_uint64 globalConfGen;
    hyp_uint32 numEntries;
    FC_InvalEntity entries[0];
} FC_IOCInvalEntries;

/* psName is a text owned by the record; it shares storage with the key. */
typedef union FC_InvalData {
    FC_InvalidationData invalidationData;
    char *psName;
} FC_InvalData;

typedef struct FC_ConfigOptionData {
    hyp_uint64 optData;
    FC_ConfigOptionTypeIOC type;
} FC_ConfigOptionData;

/* ---- Flow query records ---------------------------------------------------- */

/* Filter criteria of a flow query, in the order of FC_GetFlows' arguments. */
typedef struct FC_FlowsFilter {
    hyp_uint32 sip;
    hyp_uint32 dip;
    hyp_Bool isV6;
    hyp_uint32 switchPort;
    hyp_uint8 daddr[6];
    hyp_uint32 vni;
    hyp_uint32 ether;
    hyp_uint32 vlanid;
    hyp_uint32 proto;
    hyp_uint8 innerdaddr[6];
    hyp_uint32 tid;
} FC_FlowsFilter;

/* Tunnel encapsulation data as reported in a flow entry.  sip and dip hold
 * an IPv6 address, or an IPv4 address in their first 4 bytes, in network
 * order, as isV6 says. */
typedef struct __attribute__((packed)) FC_VDL2EncapActionDataIOC {
    hyp_uint16 mtu;
    hyp_uint8 saddr[6];
    hyp_uint8 daddr[6];
    hyp_uint32 virtualNetworkId;
    hyp_uint8 sip[16];
    hyp_uint8 dip[16];
    hyp_Bool isV6;
} FC_VDL2EncapActionDataIOC;

/* Per-client action data of an action entity in a flow entry. */
typedef struct __attribute__((packed)) FC_ClientDataIOC {
    FC_VSwitchVlanActionData vlanData;
    FC_VSwitchLookupEntryActionData vsLookupData;
    FC_VDL2TrafficMarkActionData vdl2TmData;
    FC_OverlayVNIActionData vniData;
    FC_VDL2DecapActionData vdl2DecapData;
    FC_VDL2EncapActionDataIOC vdl2EncapData;
    FC_VDRActionData vdrData;
} FC_ClientDataIOC;

/* One action entity of a flow; dstPortsNum of the dport slots are used. */
typedef struct __attribute__((packed)) FC_ActionEntityIOC {
    hyp_uint64 actionsBitMap;           /* bit n: FC_FastPathActions value n */
    FC_ClientDataIOC clientData;
    FC_ReplData replData;
    hyp_SwitchPortID dport[FC_MAX_DPORTS_IOC];
    hyp_uint32 dstPortsNum;
} FC_ActionEntityIOC;

/* One flow entry of a query result. */
typedef struct __attribute__((packed)) FC_FlowEntryIOC {
    FC_FlowEntryFlags fcFlags;
    hyp_uint64 flowId;
    FC_FlowKey fkey;
    FC_CacheStats stats;
    hyp_uint64 pktCount;
    hyp_uint64 pktCntSinceFlush;
    hyp_uint32 exprTime;
    hyp_uint64 created;
    hyp_uint64 confGen;
    hyp_uint64 tblId;
    FC_InvalEntity dportEntity;
    FC_InvalEntity sPortEntity;
    hyp_uint16 numDports;
    hyp_uint16 numConfDports;
    hyp_uint16 numActionEntities;
    FC_ActionEntityIOC actionEntity[FC_MAX_OUT_AC_IOC];
} FC_FlowEntryIOC;

/* Result buffer of a flow query: a header followed by numEntries entries. */
typedef struct FC_IOCFlows {
    hyp_uint32 totalEntries;
    hyp_uint32 numEntries;
    FC_FlowEntryIOC entries[0];
} FC_IOCFlows;

/* An Ethernet header in device-request layout. */
typedef struct hyp_EthHdrIOC {
    hyp_uint8 daddr[6];
    hyp_uint8 saddr[6];
    hyp_uint16 type;
} hyp_EthHdrIOC;

/* Buffer descriptor of a device request; the buffers' addresses travel as
 * plain 64-bit integers so that the layout is the same for every caller. */
typedef struct FCIOCtlData {
    hyp_uint32 dataInLen;
    hyp_uint32 dataOutLen;
    hyp_uint64 dataInPtr;
    hyp_uint64 dataOutPtr;
} FCIOCtlData;

/* A device query whose layout is private to the driver. */
typedef struct FCVSIOCtlQuery {
    hyp_uint8 opaque[176];
} FCVSIOCtlQuery;

/* ---- Library functions ----------------------------------------------------- */

/* Flow query and removal; the filter is that of FC_FlowsFilter with the two
 * hardware addresses given as text. */
FC_IOCFlows *FC_GetFlows(hyp_uint32 sip, hyp_uint32 dip, hyp_Bool isV6,
                         hyp_uint32 switchPort, char const *daddr,
                         hyp_uint32 vni, hyp_uint32 ether, hyp_uint32 vlanid,
                         hyp_uint32 proto, char const *innerdaddr,
                         hyp_uint32 tid);
void FC_RemoveFlows(hyp_uint32 sip, hyp_uint32 dip, hyp_Bool isV6,
                    hyp_uint32 switchPort, char const *daddr,
                    hyp_uint32 vni, hyp_uint32 ether, hyp_uint32 vlanid,
                    hyp_uint32 proto, char const *innerdaddr,
                    hyp_uint32 tid);

FC_CacheStats *FC_GetFlowCacheStats(void);
FC_HashStatsIOC *FC_GetFlowCacheHashStats(void);

FC_IOCInvalEntries *FC_GetInvalTableEntries(void);
void FC_InvalidateFCFlowEntry(hyp_uint32 keyValue, FC_InvalHashKeyType keyType);
int FC_InvalidateFlowsIoctl(void);

void FC_IOCSetConfigOption(FC_ConfigOptionTypeIOC type, hyp_uint32 value);
hyp_uint32 FC_IOCGetConfigOption(FC_ConfigOptionTypeIOC type);

void FC_SetPortProp(char const *switchName, char const *portName,
                    FC_DVSPortEnableDir dir);
void FC_SetHostProp(char const *switchName, char const *propName,
                    hyp_Bool enable);

/* Status texts; the strings belong to the library. */
char const *FC_GetPortsetStatus(char const *portsetName);
char const *FC_GetPortsetMcastStatus(char const *portsetName);
char const *FC_GetFlowCacheEnabled(char const *switchName,
                                   char const *portName);

/* ---- Layout checks ------------------------------------------------------ */

HYP_STATIC_ASSERT(sizeof(FC_FastPathActions) == 4);
HYP_STATIC_ASSERT(FC_ACTION_META_FLOW == 37 && FC_ACTION_MAX == 38);
HYP_STATIC_ASSERT(FC_IOCMD_INVALIDATE_ENTRY == 13);
HYP_STATIC_ASSERT(sizeof(FC_ConfigOptionTypeIOC) == 4);
HYP_STATIC_ASSERT(sizeof(FC_InvalHashKeyType) == 4);
HYP_STATIC_ASSERT(sizeof(FC_DVSPortEnableDir) == 4);
HYP_STATIC_ASSERT(sizeof(FC_FlowEntryFlags) == 4);
HYP_STATIC_ASSERT(sizeof(FC_FlowEntryAttrFlags) == 4);
HYP_STATIC_ASSERT(sizeof(FC_ReplReq) == 4);
HYP_STATIC_ASSERT(sizeof(FC_InvalGetOption) == 4);
HYP_STATIC_ASSERT(sizeof(FC_OpState) == 4);
HYP_STATIC_ASSERT(sizeof(FC_ClientHandle) == 8);

/* Flow key */
HYP_STATIC_ASSERT(sizeof(FC_l2Key) == 16);
HYP_STATIC_ASSERT(offsetof(FC_l2Key, saddr) == 0);
HYP_STATIC_ASSERT(offsetof(FC_l2Key, daddr) == 6);
HYP_STATIC_ASSERT(offsetof(FC_l2Key, etype) == 12);
HYP_STATIC_ASSERT(offsetof(FC_l2Key, vlanid) == 14);
HYP_STATIC_ASSERT(sizeof(FC_ipv4Key) == 8);
HYP_STATIC_ASSERT(offsetof(FC_ipv4Key, sip) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ipv4Key, dip) == 4);
HYP_STATIC_ASSERT(sizeof(FC_ipv6Key) == 32);
HYP_STATIC_ASSERT(offsetof(FC_ipv6Key, sip) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ipv6Key, dip) == 16);
HYP_STATIC_ASSERT(sizeof(FC_FlowKey_inner) == 16);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey_inner, l2Key) == 0);
HYP_STATIC_ASSERT(sizeof(FC_FlowKey_ipKey) == 32);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey_ipKey, ipv4Key) == 0);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey_ipKey, ipv6Key) == 0);
HYP_STATIC_ASSERT(sizeof(FC_FlowKey) == 76);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_FlowKey) == 4);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey, portID) == 0);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey, vni) == 4);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey, l2Key) == 8);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey, flags) == 24);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey, proto) == 25);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey, pad) == 26);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey, inner) == 28);
HYP_STATIC_ASSERT(offsetof(FC_FlowKey, ipKey) == 44);

/* Statistics */
HYP_STATIC_ASSERT(sizeof(FC_CacheStats) == 632);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats, lookup) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats, actions) == 256);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats, actions_add) == 536);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats, fastpath) == 544);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_lookup) == 256);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, failed) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, unsupported) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, fp_resumed) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, repl_pkt_replace_fail) == 24);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, actionGenList_appended) == 32);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, action_handle_err) == 40);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, nhits) == 48);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, nmisses) == 56);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, attr_set_failed) == 64);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, attr_set_throttle) == 72);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, fp_resume_failed) == 80);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, dport_disabled_check_fail) == 88);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, fe_inval_init_fail) == 96);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, fe_hash_insert_fail) == 104);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, multi_dest) == 112);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, drop) == 120);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, alloc) == 160);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup, free) == 224);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_lookup_drop) == 40);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_drop, inval_port_data) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_drop, resume_fail) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_drop, dport_not_found) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_drop, dport_lock_fail) == 24);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_drop, status_free) == 32);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_lookup_alloc) == 64);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_alloc, fe) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_alloc, actionEntity) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_alloc, vdl2EncapData) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_alloc, vdrData) == 24);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_alloc, fe_fail) == 32);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_alloc, actionEntity_fail) == 40);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_alloc, vdl2EncapData_fail) == 48);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_alloc, vdrData_fail) == 56);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_lookup_free) == 32);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_free, fe) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_free, actionEntity) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_free, vdl2EncapData) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_lookup_free, vdrData) == 24);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions) == 280);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, doNotCache) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, decap) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, encap) == 64);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, vlan) == 120);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, prio) == 128);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, guest_vlan_insert) == 136);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, guest_vlan_remove) == 168);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, vdr) == 200);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, trafficmark_dscp) == 232);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, trafficmark_cos) == 240);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, drop) == 248);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, vni) == 256);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions, slowpath) == 272);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_decap) == 56);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_decap, completed) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_decap, fromNestedTN) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_decap, clone) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_decap, frag_pkt) == 24);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_decap, drop) == 32);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_decap_drop) == 24);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_decap_drop, noResource) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_decap_drop, invalidEncap) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_decap_drop, invalidLatency) == 16);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_encap) == 56);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_encap, large_ip) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_encap, completed) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_encap, toNestedTN) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_encap, clone) == 24);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_encap, drop) == 32);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_encap_drop) == 24);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_encap_drop, invalidFrame) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_encap_drop, splitLargePacket) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_encap_drop, invalidLatency) == 16);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_guest_vlan_insert) == 32);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_guest_vlan_insert, completed) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_guest_vlan_insert, partialCopy) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_guest_vlan_insert, errorActionHandle) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_guest_vlan_insert, errorAddAction) == 24);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_guest_vlan_remove) == 32);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_guest_vlan_remove, completed) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_guest_vlan_remove, partialCopy) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_guest_vlan_remove, errorActionHandle) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_guest_vlan_remove, errorAddAction) == 24);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_vdr) == 32);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_vdr, completedV4) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_vdr, ttlExceeded) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_vdr, completedV6) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_vdr, hopLimitExceeded) == 24);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_vni) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_vni, setCompleted) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_vni, clearCompleted) == 8);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_vlan) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_vlan, completed) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_prio) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_prio, completed) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_trafficmark_dscp) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_trafficmark_dscp, completed) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_trafficmark_cos) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_trafficmark_cos, completed) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_drop) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_drop, completed) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_slowpath) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_slowpath, completed) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_add) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_add, errors) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_actions_add_errors) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_actions_add_errors, src_mac_change) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_fastpath) == 88);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath, multi_dest) == 0);
HYP_STATIC_ASSERT(sizeof(FC_CacheStats_fastpath_multi_dest) == 88);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, repl_pkt_fail) == 0);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, repl_pkt_replace_fail) == 8);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, last_acEntity_pkt_remove_fail) == 16);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, bv_get_next_set_bit_fail) == 24);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, ps_get_port_from_index_fail) == 32);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, action_handle_err) == 40);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, conf_actual_dports_mismatch) == 48);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, dport_index_to_id_fail) == 56);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, dport_not_found) == 64);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, dport_lock_fail) == 72);
HYP_STATIC_ASSERT(offsetof(FC_CacheStats_fastpath_multi_dest, dports_num_mismatch) == 80);
HYP_STATIC_ASSERT(sizeof(FC_PortStats) == 32);
HYP_STATIC_ASSERT(offsetof(FC_PortStats, pktsInUnicast) == 0);
HYP_STATIC_ASSERT(offsetof(FC_PortStats, bytesInUnicast) == 8);
HYP_STATIC_ASSERT(offsetof(FC_PortStats, pktsInMulticast) == 16);
HYP_STATIC_ASSERT(offsetof(FC_PortStats, bytesInMulticast) == 24);
HYP_STATIC_ASSERT(sizeof(FCHashStats) == 60);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FCHashStats) == 4);
HYP_STATIC_ASSERT(offsetof(FCHashStats, nHitsMax) == 0);
HYP_STATIC_ASSERT(offsetof(FCHashStats, nHitsMaxBcktId) == 4);
HYP_STATIC_ASSERT(offsetof(FCHashStats, nEvictsMax) == 8);
HYP_STATIC_ASSERT(offsetof(FCHashStats, nEvictsMaxBcktId) == 12);
HYP_STATIC_ASSERT(offsetof(FCHashStats, nEvictsTotal) == 16);
HYP_STATIC_ASSERT(offsetof(FCHashStats, fcState) == 20);
HYP_STATIC_ASSERT(offsetof(FCHashStats, bucketLengthMap) == 24);
HYP_STATIC_ASSERT(sizeof(((FCHashStats *)0)->bucketLengthMap) == 36);
HYP_STATIC_ASSERT(sizeof(FC_HashStatsIOC) == 4);
HYP_STATIC_ASSERT(offsetof(FC_HashStatsIOC, entries) == 0);
HYP_STATIC_ASSERT(offsetof(FC_HashStatsIOC, maxEntries) == 2);
HYP_STATIC_ASSERT(offsetof(FC_HashStatsIOC, stats) == 4);
HYP_STATIC_ASSERT(sizeof(FC_FlowStats) == 24);
HYP_STATIC_ASSERT(offsetof(FC_FlowStats, pktCount) == 8);
HYP_STATIC_ASSERT(offsetof(FC_FlowStats, bytesSinceFlush) == 16);

/* Action contexts and action data */
HYP_STATIC_ASSERT(sizeof(FC_VDL2ActionContext) == 32);
HYP_STATIC_ASSERT(offsetof(FC_VDL2ActionContext, clientHdl) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDL2ActionContext, ctx) == 8);
HYP_STATIC_ASSERT(sizeof(FC_VDRActionContext) == 24);
HYP_STATIC_ASSERT(offsetof(FC_VDRActionContext, clientHdl) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDRActionContext, ctx) == 8);
HYP_STATIC_ASSERT(sizeof(FC_FWALActionContext) == 40);
HYP_STATIC_ASSERT(offsetof(FC_FWALActionContext, clientHdl) == 0);
HYP_STATIC_ASSERT(offsetof(FC_FWALActionContext, ctx) == 8);
HYP_STATIC_ASSERT(sizeof(FC_IPFIXActionContext) == 16);
HYP_STATIC_ASSERT(offsetof(FC_IPFIXActionContext, clientHdl) == 0);
HYP_STATIC_ASSERT(offsetof(FC_IPFIXActionContext, ctx) == 8);
HYP_STATIC_ASSERT(sizeof(FC_IPFIXSAMPLEActionContext) == 24);
HYP_STATIC_ASSERT(offsetof(FC_IPFIXSAMPLEActionContext, clientHdl) == 0);
HYP_STATIC_ASSERT(offsetof(FC_IPFIXSAMPLEActionContext, ctx) == 8);
HYP_STATIC_ASSERT(sizeof(FC_VSWITCHActionContext) == 24);
HYP_STATIC_ASSERT(offsetof(FC_VSWITCHActionContext, clientHdl) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VSWITCHActionContext, ctx) == 8);
HYP_STATIC_ASSERT(sizeof(FC_VDL2EncapActionData) == 168);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_VDL2EncapActionData) == 8);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData, mtu) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData, vtepVlanID) == 2);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData, isUntrustedDscp) == 5);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData, optLen) == 6);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData, actCtx) == 8);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData, hc) == 40);
HYP_STATIC_ASSERT(sizeof(FC_VDL2EncapActionData_hc) == 128);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData_hc, hdrSpace) == 0);
HYP_STATIC_ASSERT(sizeof(FC_VDL2EncapActionData_hc_hdrSpace) == 128);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData_hc_hdrSpace, hdrCacheExt) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionData_hc_hdrSpace, hdrCacheBlock) == 64);
HYP_STATIC_ASSERT(sizeof(FC_VDL2EncapActionDataAttr) == 86);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_VDL2EncapActionDataAttr) == 1);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataAttr, mtu) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataAttr, sPort) == 2);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataAttr, vtepVlanID) == 4);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataAttr, actCtx) == 6);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataAttr, daddr) == 38);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataAttr, saddr) == 44);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataAttr, opaque) == 54);
HYP_STATIC_ASSERT(sizeof(FC_VDL2DecapActionData) == 86);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_VDL2DecapActionData) == 1);
HYP_STATIC_ASSERT(offsetof(FC_VDL2DecapActionData, vtepPortID) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDL2DecapActionData, dmac) == 8);
HYP_STATIC_ASSERT(offsetof(FC_VDL2DecapActionData, smac) == 14);
HYP_STATIC_ASSERT(offsetof(FC_VDL2DecapActionData, vtepVlanID) == 20);
HYP_STATIC_ASSERT(offsetof(FC_VDL2DecapActionData, opaque) == 22);
HYP_STATIC_ASSERT(offsetof(FC_VDL2DecapActionData, actCtx) == 54);
HYP_STATIC_ASSERT(sizeof(FC_VDL2EncapGeneveHdrCache) == 58);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapGeneveHdrCache, gh) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapGeneveHdrCache, optHdr) == 50);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapGeneveHdrCache, label) == 54);
HYP_STATIC_ASSERT(sizeof(FC_VDL2TrafficMarkActionData) == 2);
HYP_STATIC_ASSERT(offsetof(FC_VDL2TrafficMarkActionData, dscp) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDL2TrafficMarkActionData, cos) == 1);
HYP_STATIC_ASSERT(sizeof(FC_VDRActionData) == 110);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_VDRActionData) == 1);
HYP_STATIC_ASSERT(offsetof(FC_VDRActionData, curInst) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDRActionData, daddr) == 2);
HYP_STATIC_ASSERT(offsetof(FC_VDRActionData, saddr) == 8);
HYP_STATIC_ASSERT(offsetof(FC_VDRActionData, vdrActions) == 14);
HYP_STATIC_ASSERT(sizeof(((FC_VDRActionData *)0)->vdrActions) == 96);
HYP_STATIC_ASSERT(sizeof(FC_VDRInstanceData) == 32);
HYP_STATIC_ASSERT(offsetof(FC_VDRInstanceData, vdrInfo) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDRInstanceData, actCtx) == 8);
HYP_STATIC_ASSERT(sizeof(FC_VdrInfo) == 8);
HYP_STATIC_ASSERT(offsetof(FC_VdrInfo, decrTTL) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VdrInfo, vdrFlType) == 1);
HYP_STATIC_ASSERT(offsetof(FC_VdrInfo, vdrId) == 4);
HYP_STATIC_ASSERT(sizeof(FC_FWALActionData) == 64);
HYP_STATIC_ASSERT(offsetof(FC_FWALActionData, actCtx) == 0);
HYP_STATIC_ASSERT(offsetof(FC_FWALActionData, stateless) == 40);
HYP_STATIC_ASSERT(sizeof(FC_FWALStatelessData) == 24);
HYP_STATIC_ASSERT(offsetof(FC_FWALStatelessData, rule) == 0);
HYP_STATIC_ASSERT(offsetof(FC_FWALStatelessData, jumpRule) == 8);
HYP_STATIC_ASSERT(offsetof(FC_FWALStatelessData, anchorRule) == 16);
HYP_STATIC_ASSERT(sizeof(FC_IPFIXActionData) == 16);
HYP_STATIC_ASSERT(offsetof(FC_IPFIXActionData, actCtx) == 0);
HYP_STATIC_ASSERT(sizeof(FC_KCPActionData) == 10);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_KCPActionData) == 1);
HYP_STATIC_ASSERT(offsetof(FC_KCPActionData, vlanID) == 0);
HYP_STATIC_ASSERT(offsetof(FC_KCPActionData, inChildPortID) == 2);
HYP_STATIC_ASSERT(offsetof(FC_KCPActionData, outChildPortID) == 6);
HYP_STATIC_ASSERT(sizeof(FC_VSwitchVlanActionData) == 4);
HYP_STATIC_ASSERT(offsetof(FC_VSwitchVlanActionData, priority) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VSwitchVlanActionData, vlanID) == 2);
HYP_STATIC_ASSERT(sizeof(FC_VSwitchLookupEntryActionData) == 24);
HYP_STATIC_ASSERT(offsetof(FC_VSwitchLookupEntryActionData, actCtx) == 0);
HYP_STATIC_ASSERT(sizeof(FC_OverlayVNIActionData) == 4);
HYP_STATIC_ASSERT(offsetof(FC_OverlayVNIActionData, vni) == 0);

/* Flow entry and client records */
HYP_STATIC_ASSERT(sizeof(FC_ReplData) == 12);
HYP_STATIC_ASSERT(offsetof(FC_ReplData, replReq) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ReplData, frameBytes) == 4);
HYP_STATIC_ASSERT(offsetof(FC_ReplData, headroomLen) == 8);
HYP_STATIC_ASSERT(sizeof(FC_ClientDataAttr) == 400);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, vsLookupData) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, vdl2TmData) == 24);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, kcpData) == 26);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, vniData) == 36);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, vlanData) == 40);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, vdl2Opaque) == 44);
HYP_STATIC_ASSERT(sizeof(((FC_ClientDataAttr *)0)->vdl2Opaque) == 86);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, vdrData) == 130);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, fwalIngressData) == 240);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, fwalEgressData) == 304);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, ipfixIngressData) == 368);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataAttr, ipfixEgressData) == 384);
HYP_STATIC_ASSERT(sizeof(FC_ActionEntityAttr) == 424);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityAttr, clientData) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityAttr, actionsBitMap) == 400);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityAttr, replData) == 408);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityAttr, numConfDports) == 420);
HYP_STATIC_ASSERT(sizeof(FC_FlowEntryAttr) == 528);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryAttr, fkey) == 0);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryAttr, flags) == 76);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryAttr, actionEntity) == 80);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryAttr, created) == 504);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryAttr, confGen) == 512);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryAttr, fpLcoreIndex) == 520);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryAttr, actionIndex) == 522);
HYP_STATIC_ASSERT(sizeof(FC_ClientData) == 144);
HYP_STATIC_ASSERT(offsetof(FC_ClientData, vlanData) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ClientData, vsLookupData) == 8);
HYP_STATIC_ASSERT(offsetof(FC_ClientData, vdl2TmData) == 32);
HYP_STATIC_ASSERT(offsetof(FC_ClientData, vniData) == 36);
HYP_STATIC_ASSERT(offsetof(FC_ClientData, vdl2DecapData) == 40);
HYP_STATIC_ASSERT(offsetof(FC_ClientData, vdl2EncapData) == 128);
HYP_STATIC_ASSERT(offsetof(FC_ClientData, vdrData) == 136);
HYP_STATIC_ASSERT(sizeof(FC_DVSPortPropData) == 4);
HYP_STATIC_ASSERT(offsetof(FC_DVSPortPropData, dir) == 0);

/* Invalidation and configuration */
HYP_STATIC_ASSERT(sizeof(FC_InvalHashKeyValue) == 4);
HYP_STATIC_ASSERT(offsetof(FC_InvalHashKeyValue, vdrId) == 0);
HYP_STATIC_ASSERT(offsetof(FC_InvalHashKeyValue, portId) == 0);
HYP_STATIC_ASSERT(sizeof(FC_InvalHashKey) == 5);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_InvalHashKey) == 1);
HYP_STATIC_ASSERT(offsetof(FC_InvalHashKey, val) == 0);
HYP_STATIC_ASSERT(offsetof(FC_InvalHashKey, type) == 4);
HYP_STATIC_ASSERT(sizeof(FC_InvalEntity) == 72);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_InvalEntity) == 8);
HYP_STATIC_ASSERT(offsetof(FC_InvalEntity, hashLink) == 0);
HYP_STATIC_ASSERT(offsetof(FC_InvalEntity, ikey) == 8);
HYP_STATIC_ASSERT(offsetof(FC_InvalEntity, sPortStats) == 16);
HYP_STATIC_ASSERT(offsetof(FC_InvalEntity, refCount) == 48);
HYP_STATIC_ASSERT(offsetof(FC_InvalEntity, confGen) == 56);
HYP_STATIC_ASSERT(offsetof(FC_InvalEntity, flags) == 64);
HYP_STATIC_ASSERT(offsetof(FC_InvalEntity, dir) == 65);
HYP_STATIC_ASSERT(sizeof(FC_IOCInvalEntries) == 12);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_IOCInvalEntries) == 1);
HYP_STATIC_ASSERT(offsetof(FC_IOCInvalEntries, globalConfGen) == 0);
HYP_STATIC_ASSERT(offsetof(FC_IOCInvalEntries, numEntries) == 8);
HYP_STATIC_ASSERT(offsetof(FC_IOCInvalEntries, entries) == 12);
HYP_STATIC_ASSERT(sizeof(FC_InvalData) == 8);
HYP_STATIC_ASSERT(offsetof(FC_InvalData, invalidationData) == 0);
HYP_STATIC_ASSERT(offsetof(FC_InvalData, psName) == 0);
HYP_STATIC_ASSERT(sizeof(FC_ConfigOptionData) == 16);
HYP_STATIC_ASSERT(offsetof(FC_ConfigOptionData, optData) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ConfigOptionData, type) == 8);

/* Flow query records */
HYP_STATIC_ASSERT(sizeof(FC_FlowsFilter) == 52);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_FlowsFilter) == 4);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, sip) == 0);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, dip) == 4);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, isV6) == 8);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, switchPort) == 12);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, daddr) == 16);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, vni) == 24);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, ether) == 28);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, vlanid) == 32);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, proto) == 36);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, innerdaddr) == 40);
HYP_STATIC_ASSERT(offsetof(FC_FlowsFilter, tid) == 48);
HYP_STATIC_ASSERT(sizeof(FC_VDL2EncapActionDataIOC) == 51);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_VDL2EncapActionDataIOC) == 1);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataIOC, mtu) == 0);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataIOC, saddr) == 2);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataIOC, daddr) == 8);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataIOC, virtualNetworkId) == 14);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataIOC, sip) == 18);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataIOC, dip) == 34);
HYP_STATIC_ASSERT(offsetof(FC_VDL2EncapActionDataIOC, isV6) == 50);
HYP_STATIC_ASSERT(sizeof(FC_ClientDataIOC) == 281);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_ClientDataIOC) == 1);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataIOC, vlanData) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataIOC, vsLookupData) == 4);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataIOC, vdl2TmData) == 28);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataIOC, vniData) == 30);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataIOC, vdl2DecapData) == 34);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataIOC, vdl2EncapData) == 120);
HYP_STATIC_ASSERT(offsetof(FC_ClientDataIOC, vdrData) == 171);
HYP_STATIC_ASSERT(sizeof(FC_ActionEntityIOC) == 16689);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_ActionEntityIOC) == 1);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityIOC, actionsBitMap) == 0);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityIOC, clientData) == 8);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityIOC, replData) == 289);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityIOC, dport) == 301);
HYP_STATIC_ASSERT(sizeof(((FC_ActionEntityIOC *)0)->dport) == 16384);
HYP_STATIC_ASSERT(offsetof(FC_ActionEntityIOC, dstPortsNum) == 16685);
HYP_STATIC_ASSERT(sizeof(FC_FlowEntryIOC) == 67670);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FC_FlowEntryIOC) == 1);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, fcFlags) == 0);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, flowId) == 4);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, fkey) == 12);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, stats) == 88);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, pktCount) == 720);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, pktCntSinceFlush) == 728);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, exprTime) == 736);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, created) == 740);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, confGen) == 748);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, tblId) == 756);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, dportEntity) == 764);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, sPortEntity) == 836);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, numDports) == 908);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, numConfDports) == 910);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, numActionEntities) == 912);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, actionEntity) == 914);
HYP_STATIC_ASSERT(sizeof(((FC_FlowEntryIOC *)0)->actionEntity) == 66756);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, fkey) + offsetof(FC_FlowKey, ipKey) == 56);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, fkey) + offsetof(FC_FlowKey, ipKey) +
                  offsetof(FC_ipv4Key, dip) == 60);
HYP_STATIC_ASSERT(offsetof(FC_FlowEntryIOC, fkey) + offsetof(FC_FlowKey, ipKey) +
                  offsetof(FC_ipv6Key, dip) == 72);
HYP_STATIC_ASSERT(sizeof(FC_IOCFlows) == 8);
HYP_STATIC_ASSERT(offsetof(FC_IOCFlows, totalEntries) == 0);
HYP_STATIC_ASSERT(offsetof(FC_IOCFlows, numEntries) == 4);
HYP_STATIC_ASSERT(offsetof(FC_IOCFlows, entries) == 8);
HYP_STATIC_ASSERT(sizeof(hyp_EthHdrIOC) == 14);
HYP_STATIC_ASSERT(offsetof(hyp_EthHdrIOC, daddr) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_EthHdrIOC, saddr) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_EthHdrIOC, type) == 12);
HYP_STATIC_ASSERT(sizeof(FCIOCtlData) == 24);
HYP_STATIC_ASSERT(HYP_ALIGNOF(FCIOCtlData) == 8);
HYP_STATIC_ASSERT(offsetof(FCIOCtlData, dataInLen) == 0);
HYP_STATIC_ASSERT(offsetof(FCIOCtlData, dataOutLen) == 4);
HYP_STATIC_ASSERT(offsetof(FCIOCtlData, dataInPtr) == 8);
HYP_STATIC_ASSERT(offsetof(FCIOCtlData, dataOutPtr) == 16);
HYP_STATIC_ASSERT(sizeof(FCVSIOCtlQuery) == 176);

#ifdef __cplusplus
}
#endif

#endif /* LIBFC_H */
