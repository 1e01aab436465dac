/*
 * Distributed virtual switch state library (libfabPublic): handles,
 * callbacks, port records and the library's functions.
 */
#ifndef LIBFABPUBLIC_H
#define LIBFABPUBLIC_H

#include <stddef.h>

#include "hyp_kernel_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Limits ----------------------------------------------------------- */

#define HYP_FAB_ID_MAX_LEN       64   /* switch identifier */
#define HYP_FAB_PORT_ID_MAX_LEN  48   /* switch port identifier */
#define PORTSET_NAME_MAX         128

/* ---- Identifiers, handles and callbacks ----------------------------------- */

typedef char DVSwitchId[HYP_FAB_ID_MAX_LEN];
typedef char DVPortId[HYP_FAB_PORT_ID_MAX_LEN];

/* Untyped handles of objects that only the library looks into. */
typedef void *DVSwitchHandle;         /* a switch */
typedef void *DVSPortHandle;          /* a port of a switch */
typedef void *DVSDataHandle;          /* a container of named data items */
typedef void *DVSDataItem;            /* one named item inside a container */

/* Iteration callbacks, called by the library with an entry and the caller's
 * context pointer. */
typedef char (*DVSwitchCallback)(void *, void *);
typedef char (*DVSPortCallback)(void *, void *);
typedef char (*DVSPortDataCallback)(void *, void *);

/* Memory functions a data container allocates and releases its items with. */
typedef void *(*DVSData_MemAlloc)(size_t);
typedef void (*DVSData_MemFree)(void *);

/* ---- Enumerations ------------------------------------------------------ */

typedef enum DVSPortType {
    DVSPORT_TYPE_INVALID    = 0,
    DVSPORT_TYPE_ACTIVE     = 1,
    DVSPORT_TYPE_SHADOW     = 2,
    DVSPORT_TYPE_ZOMBIE     = 3,
    DVSPORT_TYPE_LOCALCACHE = 4
} DVSPortType;

/* Property type bits of a data item.  NO_SYNC_PROP_TYPE is bit 31; it is
 * written as INT_MIN so that the enumeration stays a signed int. */
typedef enum DVSPortPropType {
    CONFIG_PROP_TYPE                = 16,
    RUNTIME_PROP_TYPE               = 32,
    NO_REPLICATE_PROP_TYPE          = 64,
    NO_SET_LOCAL_CALLBACK_PROP_TYPE = 128,
    VOLATILE_PROP_TYPE              = 4,
    POLICY_PROP_TYPE                = 8,
    ALL_PUBLIC_PROP_TYPE            = 252,
    NO_SYNC_PROP_TYPE               = -2147483647 - 1,
    ALL_PROP_TYPE                   = (-2147483647 - 1) | 252
} DVSPortPropType;

/* ---- Port records ------------------------------------------------------- */

/* One port of a switch with its connection number. */
typedef struct DVPortData {
    char dvPortId[HYP_FAB_PORT_ID_MAX_LEN];
    hyp_uint32 connectId;
} DVPortData;

/* A port list as the library returns it: nports elements of dvPort lie back
 * to back from offset 8, although only one is declared. */
typedef struct DVPortList {
    int nports;
    DVSPortType type;
    DVPortData dvPort[1];
} DVPortList;

/* A port found by its external identifier. */
typedef struct OpaqueDVPortData {
    char dvPortId[HYP_FAB_PORT_ID_MAX_LEN];
    char externalId[128];
} OpaqueDVPortData;

/* ---- Library functions ----------------------------------------------------- */

/*
 * Output arguments (void **, int *, DVSDataHandle *, ...) receive memory
 * that belongs to the library: release state and data blocks with
 * DVSHYP_DataFree and data containers with DVSData_Free.
 */

/* State lifecycle */
HYP_ReturnStatus DVSLoadConfig(void);
HYP_ReturnStatus DVSHYP_StateInit(void *state, int stateLen);
HYP_ReturnStatus DVSHYP_StateCleanup(void);
HYP_ReturnStatus DVSHYP_StateSanitize(void);
HYP_ReturnStatus DVSHYP_StateGet(void **state, int *stateLen);
HYP_ReturnStatus DVSHYP_PersistentStateGet(void **state, int *stateLen);
HYP_ReturnStatus DVSState_ConfigDeserialize(void *config, int configLen);
HYP_ReturnStatus DVSState_ConfigReset(void);
void DVSHYP_DataFree(void *data);

/* Switches */
HYP_ReturnStatus DVSHYP_SwitchAdd(char const *switchId, char const *className,
                                  hyp_uint32 maxPorts, FabVersion version);
HYP_ReturnStatus DVSHYP_SwitchRemove(char const *switchId);
HYP_ReturnStatus DVSHYP_SwitchAssociate(char const *switchId);
HYP_ReturnStatus DVSHYP_SwitchDissociate(char const *switchId);
HYP_ReturnStatus DVSHYP_SwitchSetVersion(char const *switchId, FabVersion version);
HYP_ReturnStatus DVSHYP_SwitchSetMaxPorts(char const *switchId, hyp_uint32 maxPorts);
HYP_ReturnStatus DVSHYP_SwitchPortList(char const *switchId, DVPortList **ports,
                                       DVSPortType type);
HYP_ReturnStatus DVSHYP_CmdExec(char const *switchId, char const *cmd,
                                void *in, int inLen, void **out, int *outLen);
DVSwitchHandle DVSState_SwitchFindByAlias(char const *alias);
char const *DVS_SwitchId(DVSwitchHandle sw);
char const *DVS_SwitchName(DVSwitchHandle sw);
char const *DVS_ClassName(DVSwitchHandle sw);
int DVS_GetMaxPorts(DVSwitchHandle sw);
FabVersion DVS_Version(DVSwitchHandle sw);

/* Ports */
HYP_ReturnStatus DVSHYP_PortAdd(char const *switchId, char const *portId,
                                void *state, int stateLen);
HYP_ReturnStatus DVSHYP_PortRemove(char const *switchId, char const *portId);
HYP_ReturnStatus DVSHYP_PortFind(char const *switchId, char const *portId);
HYP_ReturnStatus DVSHYP_PortGetByExternalId(char const *switchId,
                                            char const *externalId,
                                            OpaqueDVPortData **port);
HYP_ReturnStatus DVSHYP_PortStateGet(char const *switchId, char const *portId,
                                     void **state, int *stateLen);
HYP_ReturnStatus DVSHYP_PersistentPortStateGet(char const *switchId,
                                               char const *portId,
                                               FabVersion version,
                                               void **state, int *stateLen);
hyp_Bool DVPortExist(char const *switchId, char const *portId);
DVSPortHandle DVSState_PortFind(char const *switchId, char const *portId);
char const *DVS_PortId(DVSPortHandle port);
char const *DVS_PortAlias(DVSPortHandle port);

/* Port and uplink data */
HYP_ReturnStatus DVSHYP_PortDataGet(char const *switchId, char const *portId,
                                    char const *name, void **data, int *dataLen);
HYP_ReturnStatus DVSHYP_SmartNICPortDataGet(char const *switchId,
                                            char const *portId,
                                            char const *name,
                                            void **data, int *dataLen);
HYP_ReturnStatus DVSHYP_PortDataSet(char const *switchId, char const *portId,
                                    char const *name, void *data, int dataLen,
                                    hyp_uint32 propType);
HYP_ReturnStatus DVSHYP_PortDataClear(char const *switchId, char const *portId,
                                      char const *name);
HYP_ReturnStatus DVSHYP_UplinkDataGet(char const *switchId, char const *name,
                                      hyp_uint32 uplink, void **data,
                                      int *dataLen);
HYP_ReturnStatus DVSHYP_UplinkDataSet(char const *switchId, char const *name,
                                      hyp_uint32 uplink, void *data,
                                      int dataLen, hyp_uint32 propType);

/* Host and global properties */
HYP_ReturnStatus DVSHYP_HostPropGet(char const *switchId, char const *name,
                                    void **data, int *dataLen);
HYP_ReturnStatus DVSHYP_SmartNICHostPropGet(char const *switchId,
                                            char const *name,
                                            void **data, int *dataLen);
HYP_ReturnStatus DVSHYP_HostPropSet(char const *switchId, char const *name,
                                    void *data, int dataLen,
                                    hyp_uint32 propType);
HYP_ReturnStatus DVSHYP_HostPropClear(char const *switchId, char const *name);
HYP_ReturnStatus DVSHYP_GlobalPropGet(char const *switchId, char const *name,
                                      void **data, int *dataLen);
HYP_ReturnStatus DVSHYP_SmartNICGlobalPropGet(char const *switchId,
                                              char const *name,
                                              void **data, int *dataLen);
HYP_ReturnStatus DVSHYP_GlobalPropSet(char const *switchId, char const *name,
                                      void *data, int dataLen,
                                      hyp_uint32 propType);
HYP_ReturnStatus DVSHYP_GlobalPropClear(char const *switchId, char const *name);
HYP_ReturnStatus DVSState_HostPropLookup(char const *switchId, char const *name,
                                         DVSDataItem *item);
HYP_ReturnStatus DVSState_GlobalPropLookup(char const *switchId,
                                           char const *name,
                                           DVSDataItem *item);

/* Property lists: each fills a data container released with DVSData_Free. */
HYP_ReturnStatus DVSHYP_VendorGlobalPropList(char const *switchId,
                                             DVSDataHandle *list,
                                             hyp_uint32 propType);
HYP_ReturnStatus DVSHYP_VendorHostPropList(char const *switchId,
                                           DVSDataHandle *list,
                                           hyp_uint32 propType);
HYP_ReturnStatus DVSHYP_ExtraConfigPropList(char const *switchId,
                                            DVSDataHandle *list,
                                            hyp_uint32 propType);
HYP_ReturnStatus DVSHYP_ExtraConfigPortPropList(char const *switchId,
                                                char const *portId,
                                                DVSDataHandle *list,
                                                hyp_uint32 propType);
HYP_ReturnStatus DVSHYP_VendorPortPropList(char const *switchId,
                                           char const *portId,
                                           DVSDataHandle *list,
                                           hyp_uint32 propType);

/* Data containers and items */
HYP_ReturnStatus DVSData_Alloc(DVSDataHandle *data, DVSData_MemAlloc memAlloc,
                               DVSData_MemFree memFree);
void DVSData_Free(DVSDataHandle data);
HYP_ReturnStatus DVSData_Update(DVSDataHandle data, char const *name,
                                void *value, hyp_uint32 valueLen,
                                hyp_uint32 propType);
HYP_ReturnStatus DVSData_Serialize(DVSDataHandle data, void **buf,
                                   hyp_uint32 *bufLen, FabVersion version);
hyp_uint32 DVSData_Data(DVSDataItem item, void **value);
char const *DVSData_Name(DVSDataItem item);
hyp_uint32 DVSData_PropType(DVSDataItem item);
hyp_Bool DVSData_IsSamePropType(DVSDataItem item, hyp_uint32 propType);

/* Names, aliases and identifiers; the second argument receives the
 * translation. */
HYP_ReturnStatus DVSPortsetNameToAlias(char const *portsetName,
                                       char alias[PORTSET_NAME_MAX]);
HYP_ReturnStatus DVSAliasToPortsetName(char const *alias,
                                       char portsetName[PORTSET_NAME_MAX]);
HYP_ReturnStatus DVSAliasToSwitchId(char const *alias,
                                    char switchId[HYP_FAB_ID_MAX_LEN]);
HYP_ReturnStatus DVSAliasToSwitchIdAllTypes(char const *alias,
                                            char switchId[HYP_FAB_ID_MAX_LEN]);

/* Iteration: the library calls the function once per entry with the
 * caller's context pointer. */
void DVSState_SwitchForEach(DVSwitchCallback cb, void *ctx);
void DVSState_PortForEach(DVSwitchHandle sw, DVSPortCallback cb, void *ctx);
void DVSState_HostPropForEach(DVSwitchHandle sw, DVSPortDataCallback cb,
                              void *ctx);
void DVSState_GlobalPropForEach(DVSwitchHandle sw, DVSPortDataCallback cb,
                                void *ctx);
void DVSState_PortDataForEach(DVSPortHandle port, DVSPortDataCallback cb,
                              void *ctx);

/* Diagnostics */
char const *HYP_ReturnStatusToString(HYP_ReturnStatus status);
void Panic(char const *fmt, ...);

/* ---- Layout checks ------------------------------------------------------ */

HYP_STATIC_ASSERT(sizeof(DVSwitchId) == 64);
HYP_STATIC_ASSERT(sizeof(DVPortId) == 48);
HYP_STATIC_ASSERT(sizeof(DVSPortType) == 4);
HYP_STATIC_ASSERT(sizeof(DVSPortPropType) == 4);
HYP_STATIC_ASSERT(ALL_PUBLIC_PROP_TYPE ==
                  (VOLATILE_PROP_TYPE | POLICY_PROP_TYPE | CONFIG_PROP_TYPE |
                   RUNTIME_PROP_TYPE | NO_REPLICATE_PROP_TYPE |
                   NO_SET_LOCAL_CALLBACK_PROP_TYPE));
HYP_STATIC_ASSERT(ALL_PROP_TYPE == -2147483396);

HYP_STATIC_ASSERT(sizeof(DVPortData) == 52);
HYP_STATIC_ASSERT(HYP_ALIGNOF(DVPortData) == 4);
HYP_STATIC_ASSERT(offsetof(DVPortData, dvPortId) == 0);
HYP_STATIC_ASSERT(offsetof(DVPortData, connectId) == 48);

HYP_STATIC_ASSERT(sizeof(DVPortList) == 60);
HYP_STATIC_ASSERT(HYP_ALIGNOF(DVPortList) == 4);
HYP_STATIC_ASSERT(offsetof(DVPortList, nports) == 0);
HYP_STATIC_ASSERT(offsetof(DVPortList, type) == 4);
HYP_STATIC_ASSERT(offsetof(DVPortList, dvPort) == 8);

HYP_STATIC_ASSERT(sizeof(OpaqueDVPortData) == 176);
HYP_STATIC_ASSERT(HYP_ALIGNOF(OpaqueDVPortData) == 1);
HYP_STATIC_ASSERT(offsetof(OpaqueDVPortData, dvPortId) == 0);
HYP_STATIC_ASSERT(offsetof(OpaqueDVPortData, externalId) == 48);

#ifdef __cplusplus
}
#endif

#endif /* LIBFABPUBLIC_H */
