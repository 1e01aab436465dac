/*
 * Hypervisor kernel interface: scalar types, enumerations and the small
 * general-purpose records (strings, list links, names, management
 * descriptors, socket addresses, link, resource-pool and port status).
 *
 * Every record here is a memory image in the layout the kernel interface
 * uses on a 64-bit little-endian host; the static assertions at the end pin
 * sizes and offsets.
 */
#ifndef HYP_KERNEL_TYPES_H
#define HYP_KERNEL_TYPES_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Scalar types ---------------------------------------------------- */

typedef unsigned char      hyp_uint8;
typedef unsigned short     hyp_uint16;
typedef unsigned int       hyp_uint32;
typedef unsigned long long hyp_uint64;
typedef signed char        hyp_int8;
typedef short              hyp_int16;
typedef int                hyp_int32;
typedef long long          hyp_int64;
typedef char               hyp_Bool;        /* one byte, "\x00" or "\x01" */

typedef unsigned long      hyp_atomic64;
typedef unsigned long      hyp_TimerCycles;
typedef unsigned int       hyp_uintptr_t;
typedef unsigned int       hyp_revnum;
typedef unsigned int       hyp_ByteCountSmall;
typedef int                hyp_ByteCountSmallSigned;
typedef unsigned long long hyp_ByteCount;
typedef long long          hyp_ByteCountSigned;
typedef long long          hyp_loff_t;
typedef int                hyp_ModuleID;
typedef int                hyp_WorldID;
typedef unsigned int       hyp_IntrCookie;
typedef unsigned int       hyp_SwitchPortID;
typedef unsigned int       hyp_VirtualNetworkID;
typedef unsigned int       hyp_LinkSpeed;
typedef unsigned int       hyp_IPv4Address;
typedef unsigned char      hyp_EthAddress[6];
typedef unsigned char      hyp_IPv6Address[16];
typedef unsigned short     hyp_VlanID;
typedef unsigned char      hyp_VlanPriority;
typedef unsigned long long hyp_NetOverlayNetworkKey;
typedef unsigned long long hyp_MgmtInstanceID;
typedef unsigned int       FabVersion;
typedef char               hyp_PortClientName[1040];

typedef unsigned int       hyp_PortsetResPoolShares;
typedef int                hyp_PortsetResPoolLimit;
typedef int                hyp_PortsetResPoolReservation;
typedef int                hyp_PortsetResPoolQueueDepth;
typedef unsigned char      hyp_PortsetResPoolPriorityTag;
typedef unsigned short     hyp_PortsetResPoolTag;

typedef void              *hyp_RCU_SList_Links;

/* Opaque kernel objects known only by pointer. */
typedef struct PktHandle hyp_PktHandle;
typedef struct Portset   hyp_Portset;

/* ---- Enumerations ------------------------------------------------------ */

/* Status of every library call; failure codes start at 0x0BAD0001. */
typedef enum HYP_ReturnStatus {
#define HYP_STATUS(name, value, text) name = value,
#include "hyp_status_codes.h"
#undef HYP_STATUS
} HYP_ReturnStatus;

typedef enum hyp_IoctlCallerSize {
    HYP_IOCTL_CALLER_64 = 0,
    HYP_IOCTL_CALLER_32 = 1
} hyp_IoctlCallerSize;

typedef enum hyp_MgmtKeyType {
    HYP_MGMT_KEY_TYPE_LONG   = 1,
    HYP_MGMT_KEY_TYPE_STRING = 2
} hyp_MgmtKeyType;

typedef enum hyp_MgmtCallbackLocation {
    HYP_MGMT_CALLBACK_KERNEL = 1,
    HYP_MGMT_CALLBACK_USER   = 2
} hyp_MgmtCallbackLocation;

typedef enum hyp_MgmtParm {
    HYP_MGMT_PARMTYPE_IN           = 0,
    HYP_MGMT_PARMTYPE_OUT          = 1,
    HYP_MGMT_PARMTYPE_INOUT        = 2,
    HYP_MGMT_PARMTYPE_VECTOR_IN    = 3,
    HYP_MGMT_PARMTYPE_VECTOR_OUT   = 4,
    HYP_MGMT_PARMTYPE_VECTOR_INOUT = 5
} hyp_MgmtParmType;

typedef enum hyp_IntrTriggerType {
    HYP_INTR_TRIGGER_LEVEL = 0,
    HYP_INTR_TRIGGER_EDGE  = 1
} hyp_IntrTriggerType;

typedef enum hyp_IntrPolarityType {
    HYP_INTR_POLARITY_LOW  = 0,
    HYP_INTR_POLARITY_HIGH = 1
} hyp_IntrPolarityType;

typedef enum hyp_LinkState {
    HYP_LINK_STATE_DOWN = 0,
    HYP_LINK_STATE_UP   = 1
} hyp_LinkState;

typedef enum hyp_LinkDuplex {
    HYP_LINK_DUPLEX_AUTO = -1,
    HYP_LINK_DUPLEX_HALF = 1,
    HYP_LINK_DUPLEX_FULL = 2
} hyp_LinkDuplex;

typedef enum hyp_LinkMediaType {
    HYP_LINK_MEDIA_NONE    = 0,
    HYP_LINK_MEDIA_UNKNOWN = 1,
    HYP_LINK_MEDIA_BASE_CR2 = 38
} hyp_LinkMediaType;

typedef enum hyp_NetPTType {
    HYP_PT_UPT  = 1,
    HYP_PT_CDPT = 2
} hyp_NetPTType;

typedef enum hyp_PktDropReason {
    HYP_PKTCAP_NO_DROP = 0,
    HYP_PKTCAP_DROP_REASON_MAX = 18
} hyp_PktDropReason;

typedef enum hyp_PktCapPoint {
    HYP_PKTCAP_POINT_INVALID = 0,
    HYP_PKTCAP_POINT_MAX = 29
} hyp_PktCapPoint;

typedef enum hyp_FabPortStatusFlag {
    HYP_FABPORT_STATUS_INUSE    = 1,
    HYP_FABPORT_STATUS_LINKUP   = 2,
    HYP_FABPORT_STATUS_BLOCKED  = 4,
    HYP_FABPORT_STATUS_PASSTHRU = 8
} hyp_FabPortStatusFlag;

typedef enum hyp_FabHostStatus {
    HYP_FAB_STATUS_OK       = 0,
    HYP_FAB_STATUS_DEGRADED = 1,
    HYP_FAB_STATUS_DOWN     = 2
} hyp_FabHostStatus;

typedef enum hyp_FabPropPortsetState {
    HYP_FABPORTSET_STATE_DEACTIVE = 1,
    HYP_FABPORTSET_STATE_HOTSWAP  = 2
} hyp_FabPropPortsetState;

/* ---- Strings, list links, names ----------------------------------------- */

#define HYP_MISC_NAME_MAX            32
#define HYP_MGMT_MAX_CALLBACK_PARMS  4
#define HYP_MGMT_MAX_INSTANCES       32

/* A counted byte buffer: capacity, length in use and the bytes. */
typedef struct hyp_String {
    hyp_ByteCountSmall bufferSize;
    hyp_ByteCountSmall stringLength;
    hyp_uint8 *buffer;
} hyp_String;

typedef struct hyp_ListLinks {
    struct hyp_ListLinks *prevPtr;
    struct hyp_ListLinks *nextPtr;
} hyp_ListLinks;

typedef hyp_ListLinks ovl_HashLink;

/* A name of at most 32 bytes, padded with zero bytes (no terminator when full). */
typedef struct hyp_Name {
    char string[HYP_MISC_NAME_MAX];
} hyp_Name;

/* ---- Management interface ----------------------------------------------- */

typedef struct hyp_MgmtCallbackInfo {
    hyp_MgmtCallbackLocation location;
    void *callback;
    hyp_Bool synchronous;
    hyp_uint8 numParms;
    hyp_uint32 parmSizes[HYP_MGMT_MAX_CALLBACK_PARMS];
    hyp_MgmtParmType parmTypes[HYP_MGMT_MAX_CALLBACK_PARMS];
    hyp_uint64 callbackId;
} hyp_MgmtCallbackInfo;

typedef struct hyp_MgmtApiSignature {
    hyp_revnum version;
    hyp_Name name;
    hyp_Name vendor;
    int numCallbacks;
    hyp_MgmtCallbackInfo *callbacks;
} hyp_MgmtApiSignature;

typedef struct hyp_MgmtVectorParm {
    hyp_ByteCount length;
    void *dataPtr;
} hyp_MgmtVectorParm;

typedef struct hyp_MgmtInstances {
    hyp_uint8 numInstances;
    hyp_uint64 instanceIds[HYP_MGMT_MAX_INSTANCES];
    hyp_Name instanceNames[HYP_MGMT_MAX_INSTANCES];
} hyp_MgmtInstances;

typedef struct hyp_IntrInfo {
    hyp_IntrTriggerType trigger;
    hyp_IntrPolarityType polarity;
} hyp_IntrInfo;

/* An untyped pointer-sized cookie (no struct tag). */
typedef struct {
    void *ptr;
} hyp_AddrCookie;

/* An opaque deferred-call item (no struct tag). */
typedef struct {
    hyp_uint64 opaque;
} OVL_RCUDeferredCallItem;

/* ---- Socket addresses ---------------------------------------------------- */

#define HYP_SOCKET_AF_INET   2
#define HYP_SOCKET_AF_INET6  28

typedef struct hyp_SocketAddress {
    hyp_uint8 sa_len;
    hyp_uint8 sa_family;
    hyp_uint8 sa_data[254];
} hyp_SocketAddress;

typedef struct hyp_SocketIPAddressAddr {
    hyp_uint32 s_addr;
} hyp_SocketIPAddressAddr;

typedef struct hyp_SocketIPAddress {
    hyp_uint8 sin_len;
    hyp_uint8 sin_family;
    hyp_uint16 sin_port;
    hyp_SocketIPAddressAddr sin_addr;
    hyp_uint8 sin_zero[8];
} hyp_SocketIPAddress;

/* Three views of the same sixteen address bytes. */
typedef union {
    hyp_uint8 __u6_addr8[16];
    hyp_uint16 __u6_addr16[8];
    hyp_uint32 __u6_addr32[4];
} hyp_SocketIPv6AddressAddr___u6_addr;

typedef struct hyp_SocketIPv6AddressAddr {
    hyp_SocketIPv6AddressAddr___u6_addr __u6_addr;
} hyp_SocketIPv6AddressAddr;

typedef struct hyp_SocketIPv6Address {
    hyp_uint8 sin6_len;
    hyp_uint8 sin6_family;
    hyp_uint16 sin6_port;
    hyp_uint32 sin6_flowinfo;
    hyp_SocketIPv6AddressAddr sin6_addr;
    hyp_uint32 sin6_scopeid;
} hyp_SocketIPv6Address;

/* ---- Link, resource pool and port status ------------------------------------ */

typedef struct {
    hyp_LinkState state;
    hyp_LinkSpeed speed;          /* megabits per second */
    hyp_LinkDuplex duplex;
} hyp_LinkStatus;

typedef struct hyp_PortsetResPoolCfg {
    hyp_PortsetResPoolShares shares;
    hyp_PortsetResPoolLimit limit;
    hyp_PortsetResPoolReservation reservation;
    hyp_PortsetResPoolPriorityTag pTag;
    hyp_PortsetResPoolQueueDepth queueDepth;
} hyp_PortsetResPoolCfg;

typedef struct hyp_PortsetResPoolStats {
    hyp_uint64 pktsIn;
    hyp_uint64 bytesIn;
    hyp_uint64 pktsOut;
    hyp_uint64 bytesOut;
    hyp_uint64 pktsDropped;
    hyp_uint64 bytesDropped;
} hyp_PortsetResPoolStats;

/* The port status is exchanged with 4-byte alignment: no tail padding after
 * displayStr, so the 64-bit counters do not widen the record to 104 bytes. */
#pragma pack(push, 4)
typedef struct hyp_FabPortStatus {
    hyp_uint64 flags;             /* hyp_FabPortStatusFlag bits */
    hyp_uint64 noPassthruReason;
    hyp_uint32 portID;
    char displayStr[80];
} hyp_FabPortStatus;
#pragma pack(pop)

typedef struct hyp_FabPortStatistics {
    hyp_uint64 pktsInUnicast;
    hyp_uint64 bytesInUnicast;
    hyp_uint64 pktsInMulticast;
    hyp_uint64 bytesInMulticast;
    hyp_uint64 pktsInBroadcast;
    hyp_uint64 bytesInBroadcast;
    hyp_uint64 pktsOutUnicast;
    hyp_uint64 bytesOutUnicast;
    hyp_uint64 pktsOutMulticast;
    hyp_uint64 bytesOutMulticast;
    hyp_uint64 pktsOutBroadcast;
    hyp_uint64 bytesOutBroadcast;
    hyp_uint64 pktsInDropped;
    hyp_uint64 pktsOutDropped;
    hyp_uint64 pktsInException;
    hyp_uint64 pktsOutException;
} hyp_FabPortStatistics;

typedef struct hyp_FabPortVIDRange {
    hyp_uint16 minVID;
    hyp_uint16 maxVID;
} hyp_FabPortVIDRange;

/* Head of a VLAN setting; numRanges ranges follow it in the same buffer. */
typedef struct hyp_FabPortVlanInfo {
    hyp_uint16 vlanID;
    hyp_uint16 numRanges;
    hyp_FabPortVIDRange vidRanges[0];
} hyp_FabPortVlanInfo;

/* ---- Layout checks ------------------------------------------------------ */

#ifdef __cplusplus
#define HYP_STATIC_ASSERT(e) static_assert(e, #e)
#define HYP_ALIGNOF(t) alignof(t)
#else
#define HYP_STATIC_ASSERT(e) _Static_assert(e, #e)
#define HYP_ALIGNOF(t) _Alignof(t)
#endif

HYP_STATIC_ASSERT(sizeof(hyp_String) == 16);
HYP_STATIC_ASSERT(offsetof(hyp_String, stringLength) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_String, buffer) == 8);
HYP_STATIC_ASSERT(sizeof(hyp_ListLinks) == 16);
HYP_STATIC_ASSERT(offsetof(hyp_ListLinks, nextPtr) == 8);
HYP_STATIC_ASSERT(sizeof(hyp_Name) == 32);
HYP_STATIC_ASSERT(sizeof(hyp_MgmtCallbackInfo) == 64);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtCallbackInfo, callback) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtCallbackInfo, synchronous) == 16);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtCallbackInfo, numParms) == 17);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtCallbackInfo, parmSizes) == 20);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtCallbackInfo, parmTypes) == 36);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtCallbackInfo, callbackId) == 56);
HYP_STATIC_ASSERT(sizeof(hyp_MgmtApiSignature) == 80);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtApiSignature, name) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtApiSignature, vendor) == 36);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtApiSignature, numCallbacks) == 68);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtApiSignature, callbacks) == 72);
HYP_STATIC_ASSERT(sizeof(hyp_MgmtVectorParm) == 16);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtVectorParm, dataPtr) == 8);
HYP_STATIC_ASSERT(sizeof(hyp_MgmtInstances) == 1288);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtInstances, instanceIds) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_MgmtInstances, instanceNames) == 264);
HYP_STATIC_ASSERT(sizeof(hyp_IntrInfo) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_IntrInfo, polarity) == 4);
HYP_STATIC_ASSERT(sizeof(hyp_AddrCookie) == 8);
HYP_STATIC_ASSERT(sizeof(OVL_RCUDeferredCallItem) == 8);

HYP_STATIC_ASSERT(sizeof(hyp_SocketAddress) == 256);
HYP_STATIC_ASSERT(offsetof(hyp_SocketAddress, sa_data) == 2);
HYP_STATIC_ASSERT(sizeof(hyp_SocketIPAddress) == 16);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_SocketIPAddress) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_SocketIPAddress, sin_port) == 2);
HYP_STATIC_ASSERT(offsetof(hyp_SocketIPAddress, sin_addr) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_SocketIPAddress, sin_zero) == 8);
HYP_STATIC_ASSERT(sizeof(hyp_SocketIPAddressAddr) == 4);
HYP_STATIC_ASSERT(sizeof(hyp_SocketIPv6Address) == 28);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_SocketIPv6Address) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_SocketIPv6Address, sin6_flowinfo) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_SocketIPv6Address, sin6_addr) == 8);
HYP_STATIC_ASSERT(offsetof(hyp_SocketIPv6Address, sin6_scopeid) == 24);
HYP_STATIC_ASSERT(sizeof(hyp_SocketIPv6AddressAddr) == 16);
HYP_STATIC_ASSERT(sizeof(hyp_SocketIPv6AddressAddr___u6_addr) == 16);

HYP_STATIC_ASSERT(sizeof(hyp_LinkStatus) == 12);
HYP_STATIC_ASSERT(offsetof(hyp_LinkStatus, speed) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_LinkStatus, duplex) == 8);
HYP_STATIC_ASSERT(sizeof(hyp_PortsetResPoolCfg) == 20);
HYP_STATIC_ASSERT(HYP_ALIGNOF(hyp_PortsetResPoolCfg) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_PortsetResPoolCfg, pTag) == 12);
HYP_STATIC_ASSERT(offsetof(hyp_PortsetResPoolCfg, queueDepth) == 16);
HYP_STATIC_ASSERT(sizeof(hyp_PortsetResPoolStats) == 48);
HYP_STATIC_ASSERT(offsetof(hyp_PortsetResPoolStats, bytesDropped) == 40);
HYP_STATIC_ASSERT(sizeof(hyp_FabPortStatus) == 100);
HYP_STATIC_ASSERT(offsetof(hyp_FabPortStatus, portID) == 16);
HYP_STATIC_ASSERT(offsetof(hyp_FabPortStatus, displayStr) == 20);
HYP_STATIC_ASSERT(sizeof(hyp_FabPortStatistics) == 128);
HYP_STATIC_ASSERT(offsetof(hyp_FabPortStatistics, pktsOutException) == 120);
HYP_STATIC_ASSERT(sizeof(hyp_FabPortVIDRange) == 4);
HYP_STATIC_ASSERT(sizeof(hyp_FabPortVlanInfo) == 4);
HYP_STATIC_ASSERT(offsetof(hyp_FabPortVlanInfo, vidRanges) == 4);

#ifdef __cplusplus
}
#endif

#endif /* HYP_KERNEL_TYPES_H */
