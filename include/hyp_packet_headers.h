/*
 * Packet header records: wire images of link, network, transport and tunnel
 * headers, overlay encapsulation bundles, Geneve option data and INT headers.
 */
#ifndef HYP_PACKET_HEADERS_H
#define HYP_PACKET_HEADERS_H

#include "hyp_kernel_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Every record here is the byte image of a header as it lies in a packet
 * buffer, so all of them are packed (alignment 1, no padding): multi-byte
 * fields may sit at odd offsets.  Nothing is byte-swapped; network-order
 * fields read swapped on this little-endian host.  Within a bit-field unit
 * the first-declared field takes the lowest bits, which puts e.g. the IPv4
 * version in the high nibble of byte 0 as on the wire.
 */
#define HYP_PACKED __attribute__((packed))

#define HYP_ETH_ADDR_LENGTH   6
#define HYP_IPV6_ADDR_LENGTH  16

/* ---- Enumerations ------------------------------------------------------ */

/* Ether types in host order. */
typedef enum hyp_EthType {
    HYP_ETH_TYPE_IPV4              = 0x0800,
    HYP_ETH_TYPE_ARP               = 0x0806,
    HYP_ETH_TYPE_CDP               = 0x2000,
    HYP_ETH_TYPE_TRILL             = 0x22F3,
    HYP_ETH_TYPE_TRANSPARENT_ETH   = 0x6558,
    HYP_ETH_TYPE_RARP              = 0x8035,
    HYP_ETH_TYPE_ATALK             = 0x809B,
    HYP_ETH_TYPE_AARP              = 0x80F3,
    HYP_ETH_TYPE_VLAN              = 0x8100,
    HYP_ETH_TYPE_IPX_ALT           = 0x8137,
    HYP_ETH_TYPE_IPX               = 0x8138,
    HYP_ETH_TYPE_SNMP              = 0x814C,
    HYP_ETH_TYPE_IPV6              = 0x86DD,
    HYP_ETH_TYPE_SLOW              = 0x8809,
    HYP_ETH_TYPE_MPLS_UNICAST      = 0x8847,
    HYP_ETH_TYPE_MPLS_MULTICAST    = 0x8848,
    HYP_ETH_TYPE_PPPOE_DISCOVERY   = 0x8863,
    HYP_ETH_TYPE_PPPOE_SESSION     = 0x8864,
    HYP_ETH_TYPE_JUMBO             = 0x8870,
    HYP_ETH_TYPE_PROVIDER_BRIDGING = 0x88A8,
    HYP_ETH_TYPE_LLDP              = 0x88CC,
    HYP_ETH_TYPE_AKIMBI            = 0x88DE,
    HYP_ETH_TYPE_NCSI              = 0x88F8,
    HYP_ETH_TYPE_FCOE              = 0x8906,
    HYP_ETH_TYPE_FCOE_INIT         = 0x8914,
    HYP_ETH_TYPE_QUORIX            = 0x8922,
    HYP_ETH_TYPE_QINQ              = 0x9100,
    HYP_ETH_TYPE_DVFILTER          = 0xDFDF
} hyp_EthType;

/* The same ether types byte-swapped, for comparing a raw header field read
 * on a little-endian host. */
typedef enum hyp_EthTypeNBO {
    HYP_ETH_TYPE_IPV4_NBO              = 0x0008,
    HYP_ETH_TYPE_ARP_NBO               = 0x0608,
    HYP_ETH_TYPE_CDP_NBO               = 0x0020,
    HYP_ETH_TYPE_TRILL_NBO             = 0xF322,
    HYP_ETH_TYPE_TRANSPARENT_ETH_NBO   = 0x5865,
    HYP_ETH_TYPE_RARP_NBO              = 0x3580,
    HYP_ETH_TYPE_ATALK_NBO             = 0x9B80,
    HYP_ETH_TYPE_AARP_NBO              = 0xF380,
    HYP_ETH_TYPE_VLAN_NBO              = 0x0081,
    HYP_ETH_TYPE_IPX_ALT_NBO           = 0x3781,
    HYP_ETH_TYPE_IPX_NBO               = 0x3881,
    HYP_ETH_TYPE_SNMP_NBO              = 0x4C81,
    HYP_ETH_TYPE_IPV6_NBO              = 0xDD86,
    HYP_ETH_TYPE_SLOW_NBO              = 0x0988,
    HYP_ETH_TYPE_MPLS_UNICAST_NBO      = 0x4788,
    HYP_ETH_TYPE_MPLS_MULTICAST_NBO    = 0x4888,
    HYP_ETH_TYPE_PPPOE_DISCOVERY_NBO   = 0x6388,
    HYP_ETH_TYPE_PPPOE_SESSION_NBO     = 0x6488,
    HYP_ETH_TYPE_JUMBO_NBO             = 0x7088,
    HYP_ETH_TYPE_PROVIDER_BRIDGING_NBO = 0xA888,
    HYP_ETH_TYPE_LLDP_NBO              = 0xCC88,
    HYP_ETH_TYPE_AKIMBI_NBO            = 0xDE88,
    HYP_ETH_TYPE_NCSI_NBO              = 0xF888,
    HYP_ETH_TYPE_FCOE_NBO              = 0x0689,
    HYP_ETH_TYPE_FCOE_INIT_NBO         = 0x1489,
    HYP_ETH_TYPE_QUORIX_NBO            = 0x2289,
    HYP_ETH_TYPE_QINQ_NBO              = 0x0091,
    HYP_ETH_TYPE_DVFILTER_NBO          = 0xDFDF
} hyp_EthTypeNBO;

typedef enum hyp_IPProto {
    HYP_IP_PROTO_IPV6_HOPOPT  = 0,
    HYP_IP_PROTO_ICMPV4       = 1,
    HYP_IP_PROTO_IGMP         = 2,
    HYP_IP_PROTO_IPV4         = 4,
    HYP_IP_PROTO_TCP          = 6,
    HYP_IP_PROTO_EGP          = 8,
    HYP_IP_PROTO_IGP          = 9,
    HYP_IP_PROTO_UDP          = 17,
    HYP_IP_PROTO_IPV6         = 41,
    HYP_IP_PROTO_IPV6_ROUTE   = 43,
    HYP_IP_PROTO_IPV6_FRAG    = 44,
    HYP_IP_PROTO_GRE          = 47,
    HYP_IP_PROTO_ESP          = 50,
    HYP_IP_PROTO_AH           = 51,
    HYP_IP_PROTO_ICMPV6       = 58,
    HYP_IP_PROTO_IPV6_NONXT   = 59,
    HYP_IP_PROTO_IPV6_DSTOPTS = 60,
    HYP_IP_PROTO_EIGRP        = 88,
    HYP_IP_PROTO_OSPF         = 89,
    HYP_IP_PROTO_IPIP         = 94,
    HYP_IP_PROTO_PIM          = 103,
    HYP_IP_PROTO_VRRP         = 112,
    HYP_IP_PROTO_L2TP         = 115,
    HYP_IP_PROTO_MOB          = 135,
    HYP_IP_PROTO_HIP          = 139
} hyp_IPProto;

typedef enum HYP_IGMPType {
    HYP_IGMP_QUERY    = 17,
    HYP_IGMP_V1REPORT = 18,
    HYP_IGMP_V2REPORT = 22,
    HYP_IGMP_V3REPORT = 34,
    HYP_IGMP_V2LEAVE  = 23,
    HYP_IGMP_MRDADV   = 48,
    HYP_IGMP_MRDSOL   = 49,
    HYP_IGMP_MRDTERM  = 50
} HYP_IGMPType;

typedef enum HYP_MLDType {
    HYP_MLD_QUERY    = 130,
    HYP_MLD_V1REPORT = 131,
    HYP_MLD_V2REPORT = 143,
    HYP_MLD_DONE     = 132,
    HYP_MLD_MRDADV   = 151,
    HYP_MLD_MRDSOL   = 152,
    HYP_MLD_MRDTERM  = 153
} HYP_MLDType;

/* Bits of ovl_INTPathwatchMeta.flag. */
typedef enum ovl_INTPathwatchFlag {
    PATHWATCH_META_COUNTER_INTERFACE_ONLY = 1,
    PATHWATCH_META_REVERSE                = 2
} ovl_INTPathwatchFlag;

/* ---- Link and network layer headers ------------------------------------- */

typedef struct HYP_PACKED hyp_EthHdr {
    unsigned char daddr[6];
    unsigned char saddr[6];
    hyp_uint16 type;
} hyp_EthHdr;

/* 802.1Q tag control information plus the encapsulated type.  The 12-bit
 * VLAN ID is split: vlanIDHigh holds its upper 4 bits, vlanIDLow the rest. */
typedef struct HYP_PACKED hyp_VLANHdr {
    hyp_uint8 vlanIDHigh:4;
    hyp_uint8 dropEligible:1;
    hyp_uint8 priority:3;
    hyp_uint8 vlanIDLow;
    hyp_uint16 type;
} hyp_VLANHdr;

/* ARP for Ethernet and IPv4. */
typedef struct HYP_PACKED hyp_ArpHdr {
    hyp_uint16 htype;
    hyp_uint16 ptype;
    hyp_uint8 hlen;
    hyp_uint8 plen;
    hyp_uint16 oper;
    hyp_uint8 sha[6];
    hyp_uint32 spa;
    hyp_uint8 tha[6];
    hyp_uint32 tpa;
} hyp_ArpHdr;

/* IPv4 header without options. */
typedef struct HYP_PACKED hyp_IPv4Hdr {
    hyp_uint8 headerLength:4;
    hyp_uint8 version:4;
    hyp_uint8 tos;                  /* carried, no accessor */
    hyp_uint16 totalLength;
    hyp_uint16 identification;
    hyp_uint16 fragOffset;          /* flags and fragment offset; carried, no accessor */
    hyp_uint8 ttl;
    hyp_uint8 protocol;             /* hyp_IPProto */
    hyp_uint16 checksum;
    hyp_IPv4Address saddr;
    hyp_IPv4Address daddr;
} hyp_IPv4Hdr;

/* IPv6 fixed header.  The traffic class and the flow label straddle nibble
 * boundaries, so each is split into a high and a low part. */
typedef struct HYP_PACKED hyp_IPv6Hdr {
    hyp_uint8 trafficClassHigh:4;
    hyp_uint8 version:4;
    hyp_uint8 flowLabelHigh:4;
    hyp_uint8 trafficClassLow:4;
    hyp_uint16 flowLabelLow;
    hyp_uint16 payloadLength;
    hyp_uint8 nextHeader;
    hyp_uint8 hopLimit;
    unsigned char saddr[16];
    unsigned char daddr[16];
} hyp_IPv6Hdr;

/* Generic 8-byte IPv6 extension header; the option area as two words. */
typedef struct HYP_PACKED hyp_IPv6ExtHdr {
    hyp_uint8 nextHeader;
    hyp_uint8 hdrExtLength;
    hyp_uint16 optPad1;
    hyp_uint32 optPad2;
} hyp_IPv6ExtHdr;

/* Common ICMP / ICMPv6 header. */
typedef struct HYP_PACKED hyp_ICMPHdr {
    hyp_uint8 type;
    hyp_uint8 code;
    hyp_uint16 checksum;
} hyp_ICMPHdr;

/* IGMP version 2 message. */
typedef struct HYP_PACKED hyp_IGMPHdr {
    hyp_uint8 type;                 /* HYP_IGMPType */
    hyp_uint8 maxResponseTime;
    hyp_uint16 checksum;
    hyp_IPv4Address groupAddr;
} hyp_IGMPHdr;

/* IGMPv3 membership query; numSources addresses follow it. */
typedef struct HYP_PACKED hyp_IGMPv3QueryHdr {
    hyp_uint8 type;
    hyp_uint8 maxResponseCode;
    hyp_uint16 checksum;
    hyp_IPv4Address groupAddr;
    hyp_uint8 qrv:3;
    hyp_uint8 sFlag:1;
    hyp_uint8 reserved:4;
    hyp_uint8 qqic;
    hyp_uint16 numSources;
    hyp_IPv4Address sourcesIPv4[0];
} hyp_IGMPv3QueryHdr;

/* IGMPv3 group record; numSources addresses and the auxiliary data follow. */
typedef struct HYP_PACKED hyp_IGMPv3GrpRecord {
    hyp_uint8 type;
    hyp_uint8 dataLength;
    hyp_uint16 numSources;
    hyp_IPv4Address groupIPv4Addr;
    hyp_IPv4Address sourcesIPv4[0];
} hyp_IGMPv3GrpRecord;

/* IGMPv3 membership report; numGroups variable-length group records follow,
 * so only the first one can be addressed through `record`. */
typedef struct HYP_PACKED hyp_IGMPv3ReportHdr {
    hyp_uint8 type;
    hyp_uint8 reserved1;
    hyp_uint16 checksum;
    hyp_uint16 reserved2;
    hyp_uint16 numGroups;
    hyp_IGMPv3GrpRecord record[0];
} hyp_IGMPv3ReportHdr;

/* MLD version 1 message. */
typedef struct HYP_PACKED hyp_MLDHdr {
    hyp_uint8 type;                 /* HYP_MLDType */
    hyp_uint8 code;
    hyp_uint16 checksum;
    hyp_uint16 maxResponseTime;
    hyp_uint16 reserved;
    unsigned char groupIPv6Addr[16];
} hyp_MLDHdr;

/* MLDv2 query; numSources addresses follow it. */
typedef struct HYP_PACKED hyp_MLDv2QueryHdr {
    hyp_uint8 type;
    hyp_uint8 code;
    hyp_uint16 checksum;
    hyp_uint16 maxResponseCode;
    hyp_uint16 reserved1;
    unsigned char groupIPv6Addr[16];
    hyp_uint8 qrv:3;
    hyp_uint8 sFlag:1;
    hyp_uint8 reserved2:4;
    hyp_uint8 qqic;
    hyp_uint16 numSources;
    hyp_IPv6Address sourcesIPv6[0];
} hyp_MLDv2QueryHdr;

/* MLDv2 multicast address record; numSources addresses and the auxiliary
 * data follow. */
typedef struct HYP_PACKED hyp_MLDv2GrpRecord {
    hyp_uint8 type;
    hyp_uint8 dataLength;
    hyp_uint16 numSources;
    unsigned char groupIPv6Addr[16];
    hyp_IPv6Address sourcesIPv6[0];
} hyp_MLDv2GrpRecord;

/* MLDv2 report; numGroups variable-length address records follow. */
typedef struct HYP_PACKED hyp_MLDv2ReportHdr {
    hyp_uint8 type;
    hyp_uint8 reserved1;
    hyp_uint16 checksum;
    hyp_uint16 reserved2;
    hyp_uint16 numGroups;
    hyp_MLDv2GrpRecord record[0];
} hyp_MLDv2ReportHdr;

/* PIM common header. */
typedef struct HYP_PACKED hyp_PIMHdr {
    hyp_uint8 type:4;
    hyp_uint8 version:4;
    hyp_uint8 reserved;
    hyp_uint16 checksum;
} hyp_PIMHdr;

/* ---- Transport and tunnel headers ---------------------------------------- */

/*
 * The 24-bit fields below (hyp_VXLANHdr.reserved1 and .vxlanID,
 * hyp_GeneveHdr.virtualNetworkId, hyp_FenceHdr.fenceID) are hyp_uint32
 * bit-fields of the 32-bit word at their offset.  In a packed record GCC
 * places bit-fields back to back without regard to their type's alignment,
 * so a 24-bit field that follows eight bits declared as hyp_uint8 starts at
 * bit 8 of that word, exactly where the wire puts it; the static assertions
 * at the end check the resulting sizes and neighbour offsets.
 */

typedef struct HYP_PACKED hyp_UDPHdr {
    hyp_uint16 srcPort;
    hyp_uint16 dstPort;
    hyp_uint16 length;
    hyp_uint16 checksum;
} hyp_UDPHdr;

/* TCP header without options. */
typedef struct HYP_PACKED hyp_TCPHdr {
    hyp_uint16 srcPort;
    hyp_uint16 dstPort;
    hyp_uint32 seq;
    hyp_uint32 ackSeq;
    hyp_uint8 reserved:4;
    hyp_uint8 dataOffset:4;
    hyp_uint8 flags;                /* control flags; carried, no accessor */
    hyp_uint16 window;
    hyp_uint16 checksum;
    hyp_uint16 urgPtr;
} hyp_TCPHdr;

/* IPsec ESP header. */
typedef struct HYP_PACKED hyp_ESPHdr {
    hyp_uint32 spi;
    hyp_uint32 seq;
} hyp_ESPHdr;

/* The datapath's own fence header: 2-bit version, fragment flag, 5-bit
 * fragment ID and a 24-bit fence ID in bytes 1-3. */
typedef struct HYP_PACKED hyp_FenceHdr {
    hyp_uint8 version:2;
    hyp_uint8 frag:1;
    hyp_uint8 fragmentID:5;
    hyp_uint32 fenceID:24;
} hyp_FenceHdr;

/* GRE header; optional checksum, key and sequence words follow it. */
typedef struct HYP_PACKED hyp_GREHdr {
    hyp_uint16 flags;               /* flags and version; carried, no accessor */
    hyp_uint16 protocol;            /* ether type of the payload */
    hyp_uint32 options[0];
} hyp_GREHdr;

/* VXLAN header.  instanceID is the I flag (0x08); locallyReplicate (0x02)
 * uses a bit the standard reserves. */
typedef struct HYP_PACKED hyp_VXLANHdr {
    hyp_uint8 flags1:1;
    hyp_uint8 locallyReplicate:1;
    hyp_uint8 flags1b:1;
    hyp_uint8 instanceID:1;
    hyp_uint8 flags2:4;
    hyp_uint32 reserved1:24;
    hyp_uint32 vxlanID:24;
    hyp_uint8 reserved2;
} hyp_VXLANHdr;

/* Geneve base header; optionsLength 4-byte words of options follow it. */
typedef struct HYP_PACKED hyp_GeneveHdr {
    hyp_uint8 optionsLength:6;
    hyp_uint8 version:2;
    hyp_uint8 reserved1:6;
    hyp_uint8 criticalOptions:1;
    hyp_uint8 oamFrame:1;
    hyp_uint16 protocolType;
    hyp_uint32 virtualNetworkId:24;
    hyp_uint32 reserved2:8;
    hyp_uint32 options[0];
} hyp_GeneveHdr;

/* Geneve option header; optLength 4-byte words of option data follow it. */
typedef struct HYP_PACKED hyp_GeneveOptionHdr {
    hyp_uint16 optClass;
    hyp_uint8 optType;
    hyp_uint8 optLength:5;
    hyp_uint8 reserved:3;
} hyp_GeneveOptionHdr;

/* ---- In-band telemetry (INT) headers ---------------------------------- */

/* INT shim header. */
typedef struct HYP_PACKED ovl_INTShimHdr {
    hyp_uint8 type;                 /* shim type; carried, no accessor */
    hyp_uint8 length;
    hyp_uint8 reserve2;
    hyp_uint8 rsvd3;                /* carried, no accessor */
} ovl_INTShimHdr;

/* INT metadata header, version 1; the per-hop metadata stack follows it. */
typedef struct HYP_PACKED ovl_INTHdrV1 {
    hyp_uint8 verFlags[3];          /* version, flags, hop metadata length; no accessor */
    hyp_uint8 remainHopCnt;
    hyp_uint16 insMap;              /* wire bitmap; see ovl_INTBitmapConvert */
    hyp_uint16 reserve4;
    hyp_uint32 stack[0];
} ovl_INTHdrV1;

/* INT metadata header, version 2, with the domain-specific words; the
 * per-hop metadata stack follows it. */
typedef struct HYP_PACKED ovl_INTHdrV2 {
    hyp_uint8 verFlags;             /* version and flags; carried, no accessor */
    hyp_uint8 rsvd2;
    hyp_uint8 hopMlen;              /* per-hop metadata length; carried, no accessor */
    hyp_uint8 remainHopCnt;
    hyp_uint16 insMap;              /* wire bitmap; see ovl_INTBitmapConvert */
    hyp_uint16 dsID;
    hyp_uint16 dsIns;
    hyp_uint16 dsFlags;
    hyp_uint32 stack[0];
} ovl_INTHdrV2;

/* Live-trace metadata (known only by its typedef name). */
typedef struct HYP_PACKED {
    hyp_uint64 sessionId;
    hyp_uint32 packetId;
    hyp_uint16 eta;
    hyp_uint8 slot;
    hyp_uint8 flag;                 /* ovl_INTPathwatchFlag bits */
} ovl_INTPathwatchMeta;

/* Pathprobe metadata (known only by its typedef name). */
typedef struct HYP_PACKED {
    hyp_uint16 seq;
    hyp_uint16 rsv;
} ovl_INTPathprobeMeta;

/*
 * Converts a stored 16-bit INT instruction bitmap to a mask whose bit i is
 * bitmap bit i, and back: the bit order inside each byte is reversed, the
 * bytes stay in place.  The conversion is its own inverse.
 */
hyp_uint16 ovl_INTBitmapConvert(hyp_uint16 bitmap);

/* ---- Overlay encapsulation bundles ---------------------------------------- */

/* Complete outer header stacks, one contiguous record per tunnel kind. */
typedef struct HYP_PACKED VXLAN_Headers {
    hyp_EthHdr ethHdr;
    hyp_IPv4Hdr ipHdr;
    hyp_UDPHdr udpHdr;
    hyp_VXLANHdr vxlanHdr;
} VXLAN_Headers;

typedef struct HYP_PACKED VXLAN6_Headers {
    hyp_EthHdr ethHdr;
    hyp_IPv6Hdr ipHdr;
    hyp_UDPHdr udpHdr;
    hyp_VXLANHdr vxlanHdr;
} VXLAN6_Headers;

/* Base Geneve header only: the options are not part of the bundle. */
typedef struct HYP_PACKED Geneve_Headers {
    hyp_EthHdr ethHdr;
    hyp_IPv4Hdr ipHdr;
    hyp_UDPHdr udpHdr;
    hyp_GeneveHdr geneveHdr;
} Geneve_Headers;

typedef struct HYP_PACKED Geneve6_Headers {
    hyp_EthHdr ethHdr;
    hyp_IPv6Hdr ipHdr;
    hyp_UDPHdr udpHdr;
    hyp_GeneveHdr geneveHdr;
} Geneve6_Headers;

/* ---- Geneve option data of the overlay -------------------------------------- */

/* Label option.  The label is split into label_hi (upper 3 bits) and
 * label_lo (lower 16 bits, bytes 1-2). */
typedef struct HYP_PACKED OVLL2_GenOptDataLabel {
    hyp_uint32 label_hi:3;
    hyp_uint32 gatewayVg:1;
    hyp_uint32 mtep:1;
    hyp_uint32 pathprobe:1;
    hyp_uint32 edgeMcastOffload:1;
    hyp_uint32 ver:1;
    hyp_uint32 label_lo:16;
    hyp_uint32 rsvd2:8;
} OVLL2_GenOptDataLabel;

/* MAC flush option: the tunnel endpoint label ID is split into a 1-bit high
 * part and a 16-bit low part; the flags into two nibbles. */
typedef struct HYP_PACKED OVLL2_GenOptDataLabelMacFlush {
    hyp_uint32 flags_low:4;
    hyp_uint32 version:4;
    hyp_uint32 vtep_label_id_high:1;
    hyp_uint32 vtep_label_type:3;
    hyp_uint32 flags_high:4;
    hyp_uint32 vtep_label_id_low:16;
} OVLL2_GenOptDataLabelMacFlush;

/* Active member tunnel endpoint option: as the MAC flush option, with a
 * 2-bit group label type and a 5-bit upper flag part. */
typedef struct HYP_PACKED OVLL2_GenOptDataLabelActiveMbrVtep {
    hyp_uint32 flags_low:4;
    hyp_uint32 version:4;
    hyp_uint32 vtep_group_label_id_high:1;
    hyp_uint32 vtep_group_label_type:2;
    hyp_uint32 flags_high:5;
    hyp_uint32 vtep_group_label_id_low:16;
} OVLL2_GenOptDataLabelActiveMbrVtep;

/* Mirror option. */
typedef struct HYP_PACKED OVLL2_GenOptDataMirror {
    unsigned char forwardingMac[6];
    hyp_uint16 rsvd;
} OVLL2_GenOptDataMirror;

/* Spf option: the original source MAC and 24 bytes of metadata. */
typedef struct HYP_PACKED OVLL2_GenOptDataSpf {
    unsigned char orig_src[6];
    hyp_uint8 rsvd[6];              /* carried, no accessor */
    hyp_uint8 metadata[24];
} OVLL2_GenOptDataSpf;

/* Local vNIC latency option. */
typedef struct HYP_PACKED OVLL2_GenOptDataLocalVnicLat {
    hyp_uint64 localTxTC;
} OVLL2_GenOptDataLocalVnicLat;

/* Live-trace option: an INT v2 header directly followed by its metadata
 * (so meta.sessionId sits unaligned at offset 12). */
typedef struct HYP_PACKED OVLL2_GenOptDataPathwatch {
    ovl_INTHdrV2 intHdr;
    ovl_INTPathwatchMeta meta;
} OVLL2_GenOptDataPathwatch;

/* ---- Layout checks ------------------------------------------------------ */

HYP_STATIC_ASSERT(sizeof(hyp_EthType) == 4);
HYP_STATIC_ASSERT(sizeof(hyp_EthTypeNBO) == 4);
HYP_STATIC_ASSERT(sizeof(hyp_IPProto) == 4);
HYP_STATIC_ASSERT(sizeof(HYP_IGMPType) == 4);
HYP_STATIC_ASSERT(sizeof(HYP_MLDType) == 4);
HYP_STATIC_ASSERT(sizeof(ovl_INTPathwatchFlag) == 4);

HYP_STATIC_ASSERT(sizeof(hyp_EthHdr) == 14);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_EthHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_EthHdr, daddr) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_EthHdr, saddr) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_EthHdr, type) == 12);

HYP_STATIC_ASSERT(sizeof(hyp_VLANHdr) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_VLANHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_VLANHdr, vlanIDLow) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_VLANHdr, type) == 2);

HYP_STATIC_ASSERT(sizeof(hyp_ArpHdr) == 28);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_ArpHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, htype) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, ptype) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, hlen) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, plen) == 5);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, oper) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, sha) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, spa) == 14);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, tha) == 18);
HYP_STATIC_ASSERT(offsetof(hyp_ArpHdr, tpa) == 24);

HYP_STATIC_ASSERT(sizeof(hyp_IPv4Hdr) == 20);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_IPv4Hdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, tos) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, totalLength) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, identification) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, fragOffset) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, ttl) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, protocol) == 9);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, checksum) == 10);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, saddr) == 12);
HYP_STATIC_ASSERT(offsetof(hyp_IPv4Hdr, daddr) == 16);

HYP_STATIC_ASSERT(sizeof(hyp_IPv6Hdr) == 40);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_IPv6Hdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6Hdr, flowLabelLow) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6Hdr, payloadLength) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6Hdr, nextHeader) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6Hdr, hopLimit) == 7);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6Hdr, saddr) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6Hdr, daddr) == 24);

HYP_STATIC_ASSERT(sizeof(hyp_IPv6ExtHdr) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_IPv6ExtHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6ExtHdr, nextHeader) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6ExtHdr, hdrExtLength) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6ExtHdr, optPad1) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_IPv6ExtHdr, optPad2) == 4);

HYP_STATIC_ASSERT(sizeof(hyp_ICMPHdr) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_ICMPHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_ICMPHdr, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_ICMPHdr, code) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_ICMPHdr, checksum) == 2);

HYP_STATIC_ASSERT(sizeof(hyp_IGMPHdr) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_IGMPHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPHdr, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPHdr, maxResponseTime) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPHdr, checksum) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPHdr, groupAddr) == 4);

HYP_STATIC_ASSERT(sizeof(hyp_IGMPv3QueryHdr) == 12);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_IGMPv3QueryHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3QueryHdr, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3QueryHdr, maxResponseCode) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3QueryHdr, checksum) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3QueryHdr, groupAddr) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3QueryHdr, qqic) == 9);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3QueryHdr, numSources) == 10);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3QueryHdr, sourcesIPv4) == 12);

HYP_STATIC_ASSERT(sizeof(hyp_IGMPv3GrpRecord) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_IGMPv3GrpRecord) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3GrpRecord, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3GrpRecord, dataLength) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3GrpRecord, numSources) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3GrpRecord, groupIPv4Addr) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3GrpRecord, sourcesIPv4) == 8);

HYP_STATIC_ASSERT(sizeof(hyp_IGMPv3ReportHdr) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_IGMPv3ReportHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3ReportHdr, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3ReportHdr, reserved1) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3ReportHdr, checksum) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3ReportHdr, reserved2) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3ReportHdr, numGroups) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_IGMPv3ReportHdr, record) == 8);

HYP_STATIC_ASSERT(sizeof(hyp_MLDHdr) == 24);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_MLDHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_MLDHdr, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_MLDHdr, code) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_MLDHdr, checksum) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_MLDHdr, maxResponseTime) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_MLDHdr, reserved) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_MLDHdr, groupIPv6Addr) == 8);

HYP_STATIC_ASSERT(sizeof(hyp_MLDv2QueryHdr) == 28);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_MLDv2QueryHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, code) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, checksum) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, maxResponseCode) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, reserved1) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, groupIPv6Addr) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, qqic) == 25);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, numSources) == 26);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2QueryHdr, sourcesIPv6) == 28);

HYP_STATIC_ASSERT(sizeof(hyp_MLDv2GrpRecord) == 20);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_MLDv2GrpRecord) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2GrpRecord, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2GrpRecord, dataLength) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2GrpRecord, numSources) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2GrpRecord, groupIPv6Addr) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2GrpRecord, sourcesIPv6) == 20);

HYP_STATIC_ASSERT(sizeof(hyp_MLDv2ReportHdr) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_MLDv2ReportHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2ReportHdr, type) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2ReportHdr, reserved1) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2ReportHdr, checksum) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2ReportHdr, reserved2) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2ReportHdr, numGroups) == 6);
HYP_STATIC_ASSERT(offsetof(hyp_MLDv2ReportHdr, record) == 8);

HYP_STATIC_ASSERT(sizeof(hyp_PIMHdr) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_PIMHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_PIMHdr, reserved) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_PIMHdr, checksum) == 2);

HYP_STATIC_ASSERT(sizeof(hyp_UDPHdr) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_UDPHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_UDPHdr, srcPort) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_UDPHdr, dstPort) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_UDPHdr, length) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_UDPHdr, checksum) == 6);

HYP_STATIC_ASSERT(sizeof(hyp_TCPHdr) == 20);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_TCPHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_TCPHdr, srcPort) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_TCPHdr, dstPort) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_TCPHdr, seq) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_TCPHdr, ackSeq) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_TCPHdr, flags) == 13);
HYP_STATIC_ASSERT(offsetof(hyp_TCPHdr, window) == 14);
HYP_STATIC_ASSERT(offsetof(hyp_TCPHdr, checksum) == 16);
HYP_STATIC_ASSERT(offsetof(hyp_TCPHdr, urgPtr) == 18);

HYP_STATIC_ASSERT(sizeof(hyp_ESPHdr) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_ESPHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_ESPHdr, spi) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_ESPHdr, seq) == 4);

HYP_STATIC_ASSERT(sizeof(hyp_FenceHdr) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_FenceHdr) == 1);

HYP_STATIC_ASSERT(sizeof(hyp_GREHdr) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_GREHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_GREHdr, protocol) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_GREHdr, options) == 4);

HYP_STATIC_ASSERT(sizeof(hyp_VXLANHdr) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_VXLANHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_VXLANHdr, reserved2) == 7);

HYP_STATIC_ASSERT(sizeof(hyp_GeneveHdr) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_GeneveHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_GeneveHdr, protocolType) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_GeneveHdr, options) == 8);

HYP_STATIC_ASSERT(sizeof(hyp_GeneveOptionHdr) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_GeneveOptionHdr) == 1);
HYP_STATIC_ASSERT(offsetof(hyp_GeneveOptionHdr, optClass) == 0);
HYP_STATIC_ASSERT(offsetof(hyp_GeneveOptionHdr, optType) == 2);

HYP_STATIC_ASSERT(sizeof(ovl_INTShimHdr) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(ovl_INTShimHdr) == 1);
HYP_STATIC_ASSERT(offsetof(ovl_INTShimHdr, length) == 1);
HYP_STATIC_ASSERT(offsetof(ovl_INTShimHdr, reserve2) == 2);

HYP_STATIC_ASSERT(sizeof(ovl_INTHdrV1) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(ovl_INTHdrV1) == 1);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV1, remainHopCnt) == 3);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV1, insMap) == 4);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV1, reserve4) == 6);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV1, stack) == 8);

HYP_STATIC_ASSERT(sizeof(ovl_INTHdrV2) == 12);
HYP_STATIC_ASSERT(HYP_ALIGNOF(ovl_INTHdrV2) == 1);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV2, rsvd2) == 1);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV2, remainHopCnt) == 3);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV2, insMap) == 4);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV2, dsID) == 6);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV2, dsIns) == 8);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV2, dsFlags) == 10);
HYP_STATIC_ASSERT(offsetof(ovl_INTHdrV2, stack) == 12);

HYP_STATIC_ASSERT(sizeof(ovl_INTPathwatchMeta) == 16);
HYP_STATIC_ASSERT(HYP_ALIGNOF(ovl_INTPathwatchMeta) == 1);
HYP_STATIC_ASSERT(offsetof(ovl_INTPathwatchMeta, sessionId) == 0);
HYP_STATIC_ASSERT(offsetof(ovl_INTPathwatchMeta, packetId) == 8);
HYP_STATIC_ASSERT(offsetof(ovl_INTPathwatchMeta, eta) == 12);
HYP_STATIC_ASSERT(offsetof(ovl_INTPathwatchMeta, slot) == 14);
HYP_STATIC_ASSERT(offsetof(ovl_INTPathwatchMeta, flag) == 15);

HYP_STATIC_ASSERT(sizeof(ovl_INTPathprobeMeta) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(ovl_INTPathprobeMeta) == 1);
HYP_STATIC_ASSERT(offsetof(ovl_INTPathprobeMeta, seq) == 0);
HYP_STATIC_ASSERT(offsetof(ovl_INTPathprobeMeta, rsv) == 2);

HYP_STATIC_ASSERT(sizeof(VXLAN_Headers) == 50);
HYP_STATIC_ASSERT(HYP_ALIGNOF(VXLAN_Headers) == 1);
HYP_STATIC_ASSERT(offsetof(VXLAN_Headers, ethHdr) == 0);
HYP_STATIC_ASSERT(offsetof(VXLAN_Headers, ipHdr) == 14);
HYP_STATIC_ASSERT(offsetof(VXLAN_Headers, udpHdr) == 34);
HYP_STATIC_ASSERT(offsetof(VXLAN_Headers, vxlanHdr) == 42);

HYP_STATIC_ASSERT(sizeof(VXLAN6_Headers) == 70);
HYP_STATIC_ASSERT(HYP_ALIGNOF(VXLAN6_Headers) == 1);
HYP_STATIC_ASSERT(offsetof(VXLAN6_Headers, ethHdr) == 0);
HYP_STATIC_ASSERT(offsetof(VXLAN6_Headers, ipHdr) == 14);
HYP_STATIC_ASSERT(offsetof(VXLAN6_Headers, udpHdr) == 54);
HYP_STATIC_ASSERT(offsetof(VXLAN6_Headers, vxlanHdr) == 62);

HYP_STATIC_ASSERT(sizeof(Geneve_Headers) == 50);
HYP_STATIC_ASSERT(HYP_ALIGNOF(Geneve_Headers) == 1);
HYP_STATIC_ASSERT(offsetof(Geneve_Headers, ethHdr) == 0);
HYP_STATIC_ASSERT(offsetof(Geneve_Headers, ipHdr) == 14);
HYP_STATIC_ASSERT(offsetof(Geneve_Headers, udpHdr) == 34);
HYP_STATIC_ASSERT(offsetof(Geneve_Headers, geneveHdr) == 42);

HYP_STATIC_ASSERT(sizeof(Geneve6_Headers) == 70);
HYP_STATIC_ASSERT(HYP_ALIGNOF(Geneve6_Headers) == 1);
HYP_STATIC_ASSERT(offsetof(Geneve6_Headers, ethHdr) == 0);
HYP_STATIC_ASSERT(offsetof(Geneve6_Headers, ipHdr) == 14);
HYP_STATIC_ASSERT(offsetof(Geneve6_Headers, udpHdr) == 54);
HYP_STATIC_ASSERT(offsetof(Geneve6_Headers, geneveHdr) == 62);

HYP_STATIC_ASSERT(sizeof(OVLL2_GenOptDataLabel) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(OVLL2_GenOptDataLabel) == 1);
HYP_STATIC_ASSERT(sizeof(OVLL2_GenOptDataLabelMacFlush) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(OVLL2_GenOptDataLabelMacFlush) == 1);
HYP_STATIC_ASSERT(sizeof(OVLL2_GenOptDataLabelActiveMbrVtep) == 4);
HYP_STATIC_ASSERT(HYP_ALIGNOF(OVLL2_GenOptDataLabelActiveMbrVtep) == 1);

HYP_STATIC_ASSERT(sizeof(OVLL2_GenOptDataMirror) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(OVLL2_GenOptDataMirror) == 1);
HYP_STATIC_ASSERT(offsetof(OVLL2_GenOptDataMirror, forwardingMac) == 0);
HYP_STATIC_ASSERT(offsetof(OVLL2_GenOptDataMirror, rsvd) == 6);

HYP_STATIC_ASSERT(sizeof(OVLL2_GenOptDataSpf) == 36);
HYP_STATIC_ASSERT(HYP_ALIGNOF(OVLL2_GenOptDataSpf) == 1);
HYP_STATIC_ASSERT(offsetof(OVLL2_GenOptDataSpf, orig_src) == 0);
HYP_STATIC_ASSERT(offsetof(OVLL2_GenOptDataSpf, metadata) == 12);

HYP_STATIC_ASSERT(sizeof(OVLL2_GenOptDataLocalVnicLat) == 8);
HYP_STATIC_ASSERT(HYP_ALIGNOF(OVLL2_GenOptDataLocalVnicLat) == 1);
HYP_STATIC_ASSERT(offsetof(OVLL2_GenOptDataLocalVnicLat, localTxTC) == 0);

HYP_STATIC_ASSERT(sizeof(OVLL2_GenOptDataPathwatch) == 28);
HYP_STATIC_ASSERT(HYP_ALIGNOF(OVLL2_GenOptDataPathwatch) == 1);
HYP_STATIC_ASSERT(offsetof(OVLL2_GenOptDataPathwatch, intHdr) == 0);
HYP_STATIC_ASSERT(offsetof(OVLL2_GenOptDataPathwatch, meta) == 12);

#ifdef __cplusplus
}
#endif

#endif /* HYP_PACKET_HEADERS_H */
