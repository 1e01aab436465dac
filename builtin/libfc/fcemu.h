/*
 * The built-in flow cache library: what it adds to the declarations of
 * libfc.h, and its control interface for tests and demonstrations.
 *
 * The library models one host's flow cache.  Its state lives in a
 * memory-mapped file, flowcache.state, shared by every process of the user
 * and kept across them, in the directory named by the environment variable
 * FC_EMU_DIR; by default $XDG_RUNTIME_DIR/libfc when that is set and is the
 * user's own, else libfc-<euid> under $TMPDIR (or /tmp), the directory the
 * built-in switch state library keeps its store in too.  The directory is
 * created (mode 0700) when missing, the file (0600) with its full size
 * (which follows from the table sizes) reserved on disk.  Directory and file
 * must belong to the effective user, be writable by no one else and not be
 * symbolic links; anything else is refused and left untouched.  A state
 * file that is truncated, fails its check or has a newer format is refused
 * as well: only fcemu_reset rebuilds it.  A call waits at most five
 * seconds (or $FC_EMU_LOCK_WAIT_MS milliseconds, which the switch state
 * library honours too) for another process's lock on the file, and gives up
 * at once when a signal arrives while it waits; the message names the pid
 * holding the lock.  A process killed in the middle of a change
 * leaves its mark in the file; the next call of any process rebuilds what
 * is derived from the cached flows (bucket chains, free lists, flow counts,
 * invalidation reference counts, the lookup.free counters) before using it.
 * History counters (hits, misses, lookup.alloc, evictions, port traffic)
 * never go backwards: lookup.alloc.X is raised when a flow was stored but
 * not yet counted.
 *
 * Flow queries (FC_GetFlows, FC_RemoveFlows).  The eleven arguments are the
 * fields of FC_FlowsFilter in order; a flow matches when every criterion
 * matches, and a zero value or a NULL or empty text is a wildcard:
 *   sip, dip      the key's 32-bit IPv4 address as stored (network order in
 *                 memory), or the last four bytes of an IPv6 address;
 *   isV6          non-zero: IPv6 flows only;
 *   switchPort    the key's portID;
 *   daddr         text "xx:xx:xx:xx:xx:xx" ('-' also separates), the outer
 *                 destination MAC; all-zero is a wildcard too;
 *   vni, ether, vlanid, proto   the key's vni, l2Key.etype, l2Key.vlanid
 *                 and proto;
 *   innerdaddr    text, the inner destination MAC;
 *   tid           the table id (tblId, 1 to the number of tables); only
 *                 that table is read.
 * FC_GetFlows' buffer holds at most FC_MAX_CACHE_FLOWS_IOC entries, the
 * oldest matches in install order; totalEntries counts every match.  Each buffer a function
 * returns belongs to the library and stays valid until the next call of the
 * same function in this process.
 *
 * FC_InvalidateFlowsIoctl returns the number of flows it invalidated.
 * Status texts: "enabled" or "disabled" for a portset, and "disabled",
 * "ingress", "egress" or "enabled" for a port (a port of a disabled portset
 * is "disabled"; a port never set follows the default, "enabled"); NULL for
 * a portset that was never set.
 *
 * Bad input (an address text, option value, option or key type, direction
 * or property name the cache does not accept) abandons the call through the
 * loading module's trap with ValueError and a message naming the value; an
 * unusable state directory abandons it with OSError.  Nothing is changed by
 * an abandoned call.
 */
#ifndef FCEMU_H
#define FCEMU_H

#include <stddef.h>

#include "libfc.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef FC_MAX_CACHE_FLOWS_IOC
#define FC_MAX_CACHE_FLOWS_IOC          2048
#endif
#define FC_MIN_FLOW_EXPR_TIME_SEC       5
#define FC_MAX_FLOW_EXPR_TIME_SEC       360
#define FC_DEFAULT_FLOW_EXPR_TIME_SEC   180
#define FC_MIN_WORLD_WAITSEC            5
#define FC_MAX_WORLD_WAITSEC            86400
#define FC_WORLD_WAITSEC                360
#define FC_MIN_DISABLE_THRESHOLD_SEC    0
#define FC_MAX_DISABLE_THRESHOLD_SEC    120
#define FC_DISABLE_THRESHOLD_SEC        0
#define FCPROP_PORT_ENABLE_CACHE             "com.quorix.net.port.fc.enabled"
#define FCPROP_PORTSET_ENABLE_CACHE          "com.quorix.net.portset.fc.enabled"
#define FCPROP_PORTSET_ENABLE_MUL_DEST_CACHE "com.quorix.net.portset.fc.mcast.enabled"

#ifndef FC_PCPU_MAX_HASH_ENTRIES
#define FC_PCPU_MAX_HASH_ENTRIES        8192
#endif

/* The model's own limits.  Flows live in hash tables (one per CPU on a real
 * host) of a fixed number of entries each, chained in buckets of at most
 * FC_MAX_ENTRIES_PER_CACHE_BUCKET flows (a full bucket evicts its least
 * recently used flow); there is one bucket for every FCEMU_ENTRIES_PER_BUCKET
 * entries.  A flow is installed in the table its key hashes to; when that
 * table has no free entry left, the flow does not fit (counted in
 * lookup.alloc.fe_fail).
 * fcemu_reset_sized refuses sizes outside these limits; the state file
 * takes 256 bytes per entry (about 256 MB for a million flows). */
#define FCEMU_ENTRIES_PER_BUCKET    2
#define FCEMU_DEFAULT_TABLES        16
#define FCEMU_DEFAULT_TABLE_ENTRIES FC_PCPU_MAX_HASH_ENTRIES   /* 131072 flows */
#define FCEMU_MAX_TABLES            1024                       /* FC_MAX_PCPUS */
#define FCEMU_MIN_TABLE_ENTRIES     16
#define FCEMU_MAX_TABLE_ENTRIES     FC_PCPU_MAX_HASH_ENTRIES
#define FCEMU_MAX_FLOWS             2097152                    /* tables * entries */

/* What a cached flow keeps of the entry it was installed from: the key,
 * fcFlags, created, numDports, numConfDports, the packet count and up to
 * FC_MAX_OUT_AC_IOC action entities, of which it stores the non-zero 32-bit
 * words of each entity's action bits, client data and replication data, and
 * each destination port, FCEMU_FLOW_CELLS of these together at most (a VXLAN
 * encapsulating entity needs about 12 words, each port one).  An entry that
 * needs more is refused.  What the cache itself assigns is not taken from
 * the entry: flowId, confGen, tblId, exprTime, pktCntSinceFlush, the
 * statistics tree (rebuilt from the packet count and the actions) and the
 * two invalidation entities (the table's own). */
#define FCEMU_FLOW_CELLS            18

#define FCEMU_MAX_INVAL         1024
#define FCEMU_MAX_STATS_LEVEL   2       /* FC_IOC_STATS_LEVEL: 0..2, default 1 */
#define FCEMU_MAX_LOG_LEVEL     7       /* FC_IOC_LOG_LEVEL: 0..7, default 0 */

/* `created` of a flow entry: milliseconds since the Unix epoch; exprTime:
 * seconds left before the idle flow expires. */

typedef struct _object PyObject;

/* Control limits: flows one fcemu_traffic call installs, packets one
 * fcemu_add_flow counts. */
#define FCEMU_MAX_TRAFFIC_FLOWS 65536
#define FCEMU_MAX_FLOW_PACKETS  0xffffffffu

/* Flows a table holds per bucket of it: the hash statistics give a table's
 * buckets, and this turns them into its capacity.  A real library exports
 * no such figure; a bucket of it holds FC_MAX_ENTRIES_PER_CACHE_BUCKET. */
__attribute__((visibility("default"))) extern const unsigned int fcemu_entries_per_bucket;

/* The control functions report failure by their result; this is the
 * one-line reason for this thread's last failure (valid until its next call). */
__attribute__((visibility("default"))) const char *fcemu_last_error(void);

/* The state directory the current environment selects (not yet checked or
 * created); valid until the next call. */
__attribute__((visibility("default"))) const char *fcemu_state_dir(void);

/* Empties the cache, restores default options and enablement and zeroes
 * every counter, rebuilding a state file that fails its check; the cache
 * gets FCEMU_DEFAULT_TABLES tables of FCEMU_DEFAULT_TABLE_ENTRIES entries.
 * 0 on success, -1 when the state directory or file cannot be used (a full
 * disk leaves the old state as it was). */
__attribute__((visibility("default"))) int fcemu_reset(void);

/* fcemu_reset with `tables` hash tables of `entries` entries each; -2 (and
 * nothing changed) when a size is outside the limits above. */
__attribute__((visibility("default"))) int fcemu_reset_sized(unsigned int tables, unsigned int entries);

/* Installs one flow as the datapath does after a lookup miss: its key,
 * flags and action entities are taken from entry, pktCount packets (at
 * least one, at most FCEMU_MAX_FLOW_PACKETS) are counted, and `created` is
 * now unless entry->created is set.
 * A flow already cached counts the packets as hits instead.  0 on success,
 * -1 when its table is full, the entry malformed, or it needs more than a
 * cached flow keeps (see FCEMU_FLOW_CELLS). */
__attribute__((visibility("default"))) int fcemu_add_flow(const FC_FlowEntryIOC *entry);

/* Installs `flows` varied flows derived from seed (the same seed gives the
 * same flows) on the portsets "portset-0", "portset-1" and "switch0",
 * whose ports it registers by their decimal ids; returns how many flows were
 * new, or -1 when flows exceeds FCEMU_MAX_TRAFFIC_FLOWS or the state file or
 * the port table cannot be used. */
__attribute__((visibility("default"))) int fcemu_traffic(unsigned int flows, unsigned int seed);

/* The same for flows first .. first+flows-1 of seed's sequence, so that a
 * long sequence can be installed in batches: fcemu_traffic(n, s) installs
 * what fcemu_traffic_from(0, k, s) and fcemu_traffic_from(k, n-k, s) do.
 * first + flows may not exceed 4294967295. */
__attribute__((visibility("default"))) int fcemu_traffic_from(unsigned int first, unsigned int flows,
                                                              unsigned int seed);

/* What fcemu_traffic_report did with each flow: installed new (evicting
 * an older flow of a full bucket or not), counted as hits of a flow already
 * cached, or not installed because its hash table had no free entry, the
 * invalidation table had no room for an entity it refers to, or its port
 * does not cache ingress traffic. */
typedef struct fcemu_traffic_result {
    unsigned int installed;
    unsigned int evicted;
    unsigned int hits;
    unsigned int table_full;
    unsigned int inval_full;
    unsigned int port_disabled;
} fcemu_traffic_result;

/* fcemu_traffic, telling what became of every flow; 0, or -1 as above. */
__attribute__((visibility("default"))) int fcemu_traffic_report(unsigned int flows, unsigned int seed,
                                                                 fcemu_traffic_result *result);

/* fcemu_traffic_from, telling what became of every flow of the batch. */
__attribute__((visibility("default"))) int fcemu_traffic_report_from(unsigned int first, unsigned int flows,
                                                                      unsigned int seed,
                                                                      fcemu_traffic_result *result);

/* Verifies the state's invariants: every cached flow in its bucket's chain
 * and every other used entry on its table's free list, exactly once; the
 * chain lengths, table and cache flow counts; each invalidation entity's
 * refCount against the flows that refer to it; and the allocation counters
 * against the flows (lookup.alloc.X - lookup.free.X is what the cached
 * flows hold).  A state left behind by a writer that died in the middle of a
 * change is repaired before anything else uses it, this check included.
 * Writes one line per problem (or a summary when there is none) into
 * report, truncated to size bytes and NUL-terminated; returns the number of
 * problems, or -1 when the state file is unusable. */
__attribute__((visibility("default"))) int fcemu_check(char *report, size_t size);

/* Makes the next call of the named FC_* function abandon through the trap
 * with that jump value, exception type (NULL allowed) and message (NULL
 * allowed).  Up to eight functions may have a failure pending; value 0
 * cancels the named function's, a NULL function cancels them all. */
__attribute__((visibility("default"))) void fcemu_fail_next(const char *function, int value,
                                                            PyObject *type, const char *message);

#ifdef __cplusplus
}
#endif

#endif /* FCEMU_H */
