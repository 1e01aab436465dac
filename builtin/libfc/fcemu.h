/*
 * The built-in flow cache library: what it adds to the declarations of
 * libfc.h, and its control interface for tests and demonstrations.
 *
 * The library models one host's flow cache.  Its state lives in a
 * memory-mapped file, flowcache.state, shared by every process of the user
 * and kept across them, in the directory named by the environment variable
 * FC_EMU_DIR; by default $XDG_RUNTIME_DIR/libfc when that is set and is the
 * user's own, else fcemu-<euid> under $TMPDIR (or /tmp).  The directory is
 * created (mode 0700) when missing, the file (0600) with its full size
 * reserved on disk.  Directory and file must belong to the effective user,
 * be writable by no one else and not be symbolic links; anything else is
 * refused and left untouched.  A state file that is truncated, fails its
 * check or has a newer format is refused as well: only fcemu_reset
 * rebuilds it.  A call waits at most FCEMU_LOCK_WAIT_SEC for another
 * process's lock on the file, and gives up at once when a signal arrives
 * while it waits; the message names the pid holding the lock.
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
 *   tid           the table id (tblId, 1 to FCEMU_HASH_TABLES).
 * FC_GetFlows' buffer holds at most FC_MAX_CACHE_FLOWS_IOC entries, in
 * install order; totalEntries counts every match.  Each buffer a function
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

/* The model's own limits: flow entries, hash tables of buckets of
 * FC_MAX_ENTRIES_PER_CACHE_BUCKET entries, invalidation entities. */
#define FCEMU_MAX_FLOWS         4096
#define FCEMU_HASH_TABLES       4
#define FCEMU_BUCKETS_PER_TABLE 256
#define FCEMU_MAX_INVAL         1024
#define FCEMU_MAX_STATS_LEVEL   2       /* FC_IOC_STATS_LEVEL: 0..2, default 1 */
#define FCEMU_MAX_LOG_LEVEL     7       /* FC_IOC_LOG_LEVEL: 0..7, default 0 */

/* `created` of a flow entry: milliseconds since the Unix epoch; exprTime:
 * seconds left before the idle flow expires. */

typedef struct _object PyObject;

/* Control limits: flows one fcemu_traffic call installs, packets one
 * fcemu_add_flow counts, and how long a call waits for the state's lock. */
#define FCEMU_MAX_TRAFFIC_FLOWS 65536
#define FCEMU_MAX_FLOW_PACKETS  0xffffffffu
#define FCEMU_LOCK_WAIT_SEC     5

/* The control functions report failure by their result; this is the
 * one-line reason for the last failure (valid until the next call). */
__attribute__((visibility("default"))) const char *fcemu_last_error(void);

/* The state directory the current environment selects (not yet checked or
 * created); valid until the next call. */
__attribute__((visibility("default"))) const char *fcemu_state_dir(void);

/* Empties the cache, restores default options and enablement and zeroes
 * every counter, rebuilding a state file that fails its check; 0 on
 * success, -1 when the state directory or file cannot be used. */
__attribute__((visibility("default"))) int fcemu_reset(void);

/* Installs one flow as the datapath does after a lookup miss: its key,
 * flags and action entities are taken from entry, pktCount packets (at
 * least one, at most FCEMU_MAX_FLOW_PACKETS) are counted, and `created` is now unless entry->created is set.
 * A flow already cached counts the packets as hits instead.  0 on success,
 * -1 when the cache is full or the entry malformed. */
__attribute__((visibility("default"))) int fcemu_add_flow(const FC_FlowEntryIOC *entry);

/* Installs `flows` varied flows derived from seed (the same seed gives the
 * same flows) on the portsets "DvsPortset-0", "DvsPortset-1" and "vSwitch0",
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

/* Makes the next call of the named FC_* function abandon through the trap
 * with that jump value, exception type (NULL allowed) and message.  A NULL
 * function cancels a pending failure. */
__attribute__((visibility("default"))) void fcemu_fail_next(const char *function, int value,
                                                            PyObject *type, const char *message);

#ifdef __cplusplus
}
#endif

#endif /* FCEMU_H */
