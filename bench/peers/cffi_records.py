"""The benchmark's records through cffi, in both of its modes.

ABI mode: cffi lays the records out itself from the declarations below
(packed ones in a cdef of their own), the way a user without a compiler
would. API mode: the same declarations ending in "...;" are checked against
the project's headers by a C compiler and built as the extension
``bench_cffi_api``; ``python cffi_records.py OUTPUT_DIR`` builds it."""

import os
import sys

import cffi

_SCALARS = """
typedef unsigned char hyp_uint8;
typedef unsigned short hyp_uint16;
typedef unsigned int hyp_uint32;
typedef unsigned long long hyp_uint64;
"""

_PORT_STATISTICS_FIELDS = " ".join("hyp_uint64 %s;" % name for name in (
    "pktsInUnicast", "bytesInUnicast", "pktsInMulticast", "bytesInMulticast",
    "pktsInBroadcast", "bytesInBroadcast", "pktsOutUnicast", "bytesOutUnicast",
    "pktsOutMulticast", "bytesOutMulticast", "pktsOutBroadcast", "bytesOutBroadcast",
    "pktsInDropped", "pktsOutDropped", "pktsInException", "pktsOutException"))

# {more} stands for "" in ABI mode and for " ...;" in API mode.
_ALIGNED = """
typedef struct {{ %s{more} }} hyp_FabPortStatistics;
typedef struct {{ unsigned char saddr[6]; unsigned char daddr[6]; hyp_uint16 etype; hyp_uint16 vlanid;{more} }} FC_l2Key;
typedef struct {{ hyp_uint32 sip; hyp_uint32 dip;{more} }} FC_ipv4Key;
typedef struct {{ unsigned char sip[16]; unsigned char dip[16];{more} }} FC_ipv6Key;
typedef struct {{ FC_l2Key l2Key;{more} }} FC_FlowKey_inner;
typedef union {{ FC_ipv4Key ipv4Key; FC_ipv6Key ipv6Key;{more} }} FC_FlowKey_ipKey;
typedef struct {{
    hyp_uint32 portID; hyp_uint32 vni; FC_l2Key l2Key; hyp_uint8 flags; hyp_uint8 proto; hyp_uint8 pad[2];
    FC_FlowKey_inner inner; FC_FlowKey_ipKey ipKey;{more}
}} FC_FlowKey;
""" % _PORT_STATISTICS_FIELDS

_PACKED = """
typedef struct {
    hyp_uint8 headerLength:4; hyp_uint8 version:4; hyp_uint8 tos; hyp_uint16 totalLength;
    hyp_uint16 identification; hyp_uint16 fragOffset; hyp_uint8 ttl; hyp_uint8 protocol;
    hyp_uint16 checksum; hyp_uint32 saddr; hyp_uint32 daddr;
} hyp_IPv4Hdr;
typedef struct {
    hyp_uint64 actionsBitMap; hyp_uint8 clientData[281]; hyp_uint8 replData[12];
    hyp_uint32 dport[4096]; hyp_uint32 dstPortsNum;
} FC_ActionEntityIOC;
typedef struct {
    int fcFlags; hyp_uint64 flowId; FC_FlowKey fkey; hyp_uint8 stats[632];
    hyp_uint64 pktCount; hyp_uint64 pktCntSinceFlush; hyp_uint32 exprTime; hyp_uint64 created;
    hyp_uint64 confGen; hyp_uint64 tblId; hyp_uint8 dportEntity[72]; hyp_uint8 sPortEntity[72];
    hyp_uint16 numDports; hyp_uint16 numConfDports; hyp_uint16 numActionEntities;
    FC_ActionEntityIOC actionEntity[4];
} FC_FlowEntryIOC;
"""

# API mode lets the compiler place every member; the opaque parts of the
# ABI declarations are simply left out. cffi takes no "...;" in a record
# with bit-fields, so the IPv4 header is declared in full, packed, and the
# compiler checks it.
_PACKED_API = """
typedef struct { hyp_uint64 actionsBitMap; hyp_uint32 dport[4096]; hyp_uint32 dstPortsNum; ...; } FC_ActionEntityIOC;
typedef struct {
    int fcFlags; hyp_uint64 flowId; FC_FlowKey fkey; hyp_uint64 pktCount; hyp_uint64 pktCntSinceFlush;
    hyp_uint32 exprTime; hyp_uint64 created; hyp_uint64 confGen; hyp_uint64 tblId;
    hyp_uint16 numActionEntities; FC_ActionEntityIOC actionEntity[4]; ...;
} FC_FlowEntryIOC;
"""


def abi_ffi():
    ffi = cffi.FFI()
    ffi.cdef(_SCALARS + _ALIGNED.format(more=""))
    ffi.cdef(_PACKED, packed=True)
    return ffi


def build_api_module(output_dir):
    include = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "include")
    ffi = cffi.FFI()
    ffi.cdef(_SCALARS + _ALIGNED.format(more=" ...;") + _PACKED_API)
    ffi.cdef(_PACKED[:_PACKED.index("} hyp_IPv4Hdr;") + len("} hyp_IPv4Hdr;")], packed=True)
    ffi.set_source("bench_cffi_api", '#include "libfc.h"\n#include "hyp_packet_headers.h"\n',
                   include_dirs=[os.path.normpath(include)], extra_compile_args=["-O2", "-Wno-address-of-packed-member"])
    os.makedirs(output_dir, exist_ok=True)
    ffi.compile(tmpdir=output_dir, verbose=False)


if __name__ == "__main__":
    build_api_module(sys.argv[1])
