// C declarations and extra methods of the flow query, flow key and flow entry
// records: indexing into a query result, its entries and their destination
// ports, and the entries' addresses as text.
#pragma once

#include "libfc.h"
#include "runtime/python.hpp"

// FC_IOCFlows___getitem__(flows, index): an owned copy of entry index.
PyObject *FC_IOCFlows_copy_entry(PyObject *, PyObject *args) noexcept;
// FC_IOCFlows_get_num_flows(flows): totalEntries as a signed 32-bit value.
PyObject *FC_IOCFlows_num_flows(PyObject *, PyObject *args) noexcept;
// FC_IOCFlows_get_flow(flows, index): a view of entry index inside the buffer.
PyObject *FC_IOCFlows_entry_view(PyObject *, PyObject *args) noexcept;

// FC_FlowEntryIOC___getitem__(entry, index): a view of actionEntity[index].
PyObject *FC_FlowEntryIOC_action_entity(PyObject *, PyObject *args) noexcept;
// FC_FlowEntryIOC_get_srcip_entry / _get_dstip_entry(entry, isV6): the key's
// source / destination address as text.
PyObject *FC_FlowEntryIOC_srcip_text(PyObject *, PyObject *args) noexcept;
PyObject *FC_FlowEntryIOC_dstip_text(PyObject *, PyObject *args) noexcept;

// FC_ActionEntityIOC___getitem__(entity, index): dport[index].
PyObject *FC_ActionEntityIOC_dport(PyObject *, PyObject *args) noexcept;

// FC_VDL2EncapActionDataIOC_get_sip / _get_dip(data): the tunnel's source /
// destination address as text, of the family the record's isV6 names.
PyObject *FC_VDL2EncapActionDataIOC_sip_text(PyObject *, PyObject *args) noexcept;
PyObject *FC_VDL2EncapActionDataIOC_dip_text(PyObject *, PyObject *args) noexcept;
