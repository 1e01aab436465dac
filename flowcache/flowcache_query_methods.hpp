// C declarations and hand-written extra methods of the flow query, flow key
// and flow entry records: the entries' and tunnels' addresses as text. Their
// indexing methods are element lines of the description files.
#pragma once

#include "libfc.h"
#include "runtime/python.hpp"

// FC_FlowEntryIOC_get_srcip_entry / _get_dstip_entry(entry, isV6): the key's
// source / destination address, of the family the caller's isV6 names.
PyObject *FC_FlowEntryIOC_srcip_text(PyObject *, PyObject *args) noexcept;
PyObject *FC_FlowEntryIOC_dstip_text(PyObject *, PyObject *args) noexcept;

// FC_VDL2EncapActionDataIOC_get_sip / _get_dip(data): the tunnel's source /
// destination address, of the family the record's own isV6 byte names.
PyObject *FC_VDL2EncapActionDataIOC_sip_text(PyObject *, PyObject *args) noexcept;
PyObject *FC_VDL2EncapActionDataIOC_dip_text(PyObject *, PyObject *args) noexcept;
