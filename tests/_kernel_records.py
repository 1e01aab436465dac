"""Layouts of the kernel support records (strings, names, management
descriptors, socket addresses, link / resource pool / port status records)."""

from _layout import ARR, Field, I, Record, U, counters

RECORDS = (
    Record("hyp_String", 16, (
        U("bufferSize", "hyp_ByteCountSmall", 0, 32),
        U("stringLength", "hyp_ByteCountSmall", 4, 32),
        Field("buffer", "ptr", "hyp_uint8 *", 8, 8, target="_p_unsigned_char"),
    )),
    Record("hyp_ListLinks", 16, (
        Field("prevPtr", "ptr", "struct hyp_ListLinks *", 0, 8, target="_p_hyp_ListLinks"),
        Field("nextPtr", "ptr", "struct hyp_ListLinks *", 8, 8, target="_p_hyp_ListLinks"),
    )),
    Record("hyp_Name", 32, (
        Field("string", "chars", "char [32]", 0, 32, count=32),
    ), extras=("hyp_Name___repr__",)),
    Record("hyp_MgmtCallbackInfo", 64, (
        I("location", "hyp_MgmtCallbackLocation", 0),
        Field("callback", "void", "void *", 8, 8, target="_p_void"),
        Field("synchronous", "bool", "hyp_Bool", 16, 1),
        U("numParms", "hyp_uint8", 17, 8),
        ARR("parmSizes", "hyp_uint32 [4]", 20, "_p_unsigned_int", 4, 4),
        ARR("parmTypes", "hyp_MgmtParmType [4]", 36, "_p_hyp_MgmtParm", 4, 4),
        U("callbackId", "hyp_uint64", 56, 64),
    )),
    Record("hyp_MgmtApiSignature", 80, (
        U("version", "hyp_revnum", 0, 32),
        Field("name", "nested", "hyp_Name *", 4, 32, target="_p_hyp_Name"),
        Field("vendor", "nested", "hyp_Name *", 36, 32, target="_p_hyp_Name"),
        I("numCallbacks", "int", 68),
        Field("callbacks", "ptr", "hyp_MgmtCallbackInfo *", 72, 8, target="_p_hyp_MgmtCallbackInfo"),
    )),
    Record("hyp_MgmtVectorParm", 16, (
        U("length", "hyp_ByteCount", 0, 64),
        Field("dataPtr", "void", "void *", 8, 8, target="_p_void"),
    )),
    Record("hyp_MgmtInstances", 1288, (
        U("numInstances", "hyp_uint8", 0, 8),
        ARR("instanceIds", "hyp_uint64 [32]", 8, "_p_unsigned_long_long", 32, 8),
        ARR("instanceNames", "hyp_Name [32]", 264, "_p_hyp_Name", 32, 32),
    )),
    Record("hyp_IntrInfo", 8, (
        I("trigger", "hyp_IntrTriggerType", 0),
        I("polarity", "hyp_IntrPolarityType", 4),
    )),
    Record("hyp_AddrCookie", 8, (
        Field("ptr", "void", "void *", 0, 8, target="_p_void"),
    )),
    Record("OVL_RCUDeferredCallItem", 8, (
        U("opaque", "hyp_uint64", 0, 64),
    )),
    Record("hyp_SocketAddress", 256, (
        U("sa_len", "hyp_uint8", 0, 8),
        U("sa_family", "hyp_uint8", 1, 8),
        ARR("sa_data", "hyp_uint8 [254]", 2, "_p_unsigned_char", 254, 1),
    )),
    Record("hyp_SocketIPAddress", 16, (
        U("sin_len", "hyp_uint8", 0, 8),
        U("sin_family", "hyp_uint8", 1, 8),
        U("sin_port", "hyp_uint16", 2, 16),
        Field("sin_addr", "nested", "hyp_SocketIPAddressAddr *", 4, 4, target="_p_hyp_SocketIPAddressAddr"),
        ARR("sin_zero", "hyp_uint8 [8]", 8, "_p_unsigned_char", 8, 1),
    )),
    Record("hyp_SocketIPAddressAddr", 4, (
        U("s_addr", "hyp_uint32", 0, 32),
    )),
    Record("hyp_SocketIPv6Address", 28, (
        U("sin6_len", "hyp_uint8", 0, 8),
        U("sin6_family", "hyp_uint8", 1, 8),
        U("sin6_port", "hyp_uint16", 2, 16),
        U("sin6_flowinfo", "hyp_uint32", 4, 32),
        Field("sin6_addr", "nested", "hyp_SocketIPv6AddressAddr *", 8, 16, target="_p_hyp_SocketIPv6AddressAddr"),
        U("sin6_scopeid", "hyp_uint32", 24, 32),
    )),
    Record("hyp_SocketIPv6AddressAddr", 16, (
        Field("__u6_addr", "ro_nested", "hyp_SocketIPv6AddressAddr___u6_addr *", 0, 16,
              target="_p_hyp_SocketIPv6AddressAddr___u6_addr"),
    )),
    Record("hyp_SocketIPv6AddressAddr___u6_addr", 16, (
        ARR("__u6_addr8", "hyp_uint8 [16]", 0, "_p_unsigned_char", 16, 1),
        ARR("__u6_addr16", "hyp_uint16 [8]", 0, "_p_unsigned_short", 8, 2),
        ARR("__u6_addr32", "hyp_uint32 [4]", 0, "_p_unsigned_int", 4, 4),
    )),
    Record("hyp_LinkStatus", 12, (
        I("state", "hyp_LinkState", 0),
        U("speed", "hyp_LinkSpeed", 4, 32),
        I("duplex", "hyp_LinkDuplex", 8),
    )),
    Record("hyp_PortsetResPoolCfg", 20, (
        U("shares", "hyp_PortsetResPoolShares", 0, 32),
        I("limit", "hyp_PortsetResPoolLimit", 4),
        I("reservation", "hyp_PortsetResPoolReservation", 8),
        U("pTag", "hyp_PortsetResPoolPriorityTag", 12, 8),
        I("queueDepth", "hyp_PortsetResPoolQueueDepth", 16),
    )),
    Record("hyp_PortsetResPoolStats", 48, counters(
        ["pktsIn", "bytesIn", "pktsOut", "bytesOut", "pktsDropped", "bytesDropped"])),
    Record("hyp_FabPortStatus", 100, (
        U("flags", "hyp_uint64", 0, 64),
        U("noPassthruReason", "hyp_uint64", 8, 64),
        U("portID", "hyp_uint32", 16, 32),
        Field("displayStr", "chars", "char [80]", 20, 80, count=80),
    )),
    Record("hyp_FabPortStatistics", 128, counters(
        ["pktsInUnicast", "bytesInUnicast", "pktsInMulticast", "bytesInMulticast",
         "pktsInBroadcast", "bytesInBroadcast", "pktsOutUnicast", "bytesOutUnicast",
         "pktsOutMulticast", "bytesOutMulticast", "pktsOutBroadcast", "bytesOutBroadcast",
         "pktsInDropped", "pktsOutDropped", "pktsInException", "pktsOutException"])),
    Record("hyp_FabPortVIDRange", 4, (
        U("minVID", "hyp_uint16", 0, 16),
        U("maxVID", "hyp_uint16", 2, 16),
    )),
    Record("hyp_FabPortVlanInfo", 4, (
        U("vlanID", "hyp_uint16", 0, 16),
        U("numRanges", "hyp_uint16", 2, 16),
        Field("vidRanges", "zarray", "hyp_FabPortVIDRange [0]", 4, 4, target="_p_hyp_FabPortVIDRange",
              elem_width=4),
    )),
)
