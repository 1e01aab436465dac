/*
 * The boundary between the C entry points and the cache model.  Every model
 * function returns a status and never jumps; on failure it leaves a message
 * for fcemu_status_message() and has changed nothing.
 */
#ifndef FCEMU_MODEL_H
#define FCEMU_MODEL_H

#include "fcemu.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum fcemu_status {
    FCEMU_OK = 0,
    FCEMU_BAD_VALUE,    /* the caller's input: raised as ValueError */
    FCEMU_NO_STATE,     /* the state file cannot be used: OSError */
    FCEMU_NO_MEMORY,    /* a result buffer or table is full: MemoryError */
    FCEMU_REFUSED       /* fcemu_add_flow only: full or malformed */
} fcemu_status;

const char *fcemu_status_message(void);

/* A flow query as FC_GetFlows and FC_RemoveFlows receive it. */
typedef struct fcemu_query {
    FC_FlowsFilter values;              /* daddr and innerdaddr unused */
    const char *daddr;
    const char *innerdaddr;
} fcemu_query;

fcemu_status fcemu_model_get_flows(const fcemu_query *query, FC_IOCFlows **result);
fcemu_status fcemu_model_remove_flows(const fcemu_query *query);
fcemu_status fcemu_model_cache_stats(FC_CacheStats **result);
fcemu_status fcemu_model_hash_stats(FC_HashStatsIOC **result);
fcemu_status fcemu_model_inval_entries(FC_IOCInvalEntries **result);
fcemu_status fcemu_model_invalidate_key(hyp_uint32 value, int type);
fcemu_status fcemu_model_invalidate_all(int *invalidated);
fcemu_status fcemu_model_set_option(int type, hyp_uint32 value);
fcemu_status fcemu_model_get_option(int type, hyp_uint32 *value);
fcemu_status fcemu_model_set_port_prop(const char *switch_name, const char *port_name, int dir);
fcemu_status fcemu_model_set_host_prop(const char *switch_name, const char *prop_name, int enable);
fcemu_status fcemu_model_portset_status(const char *portset, int multicast, const char **text);
fcemu_status fcemu_model_port_status(const char *switch_name, const char *port_name, const char **text);

fcemu_status fcemu_model_reset(unsigned int tables, unsigned int entries);
fcemu_status fcemu_model_add_flow(const FC_FlowEntryIOC *entry);
fcemu_status fcemu_model_traffic(unsigned int first, unsigned int flows, unsigned int seed,
                                 fcemu_traffic_result *result);
fcemu_status fcemu_model_check(char *report, size_t size, int *problems);

#ifdef __cplusplus
}
#endif

#endif /* FCEMU_MODEL_H */
