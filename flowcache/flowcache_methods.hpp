// C declarations and hand-written extra methods of the flow cache action,
// invalidation and statistics records.
#pragma once

#include "libfc.h"
#include "runtime/python.hpp"

// FC_ACTION_SIZE(): takes nothing, does nothing under the trap, returns None.
PyObject *FC_action_size(PyObject *, PyObject *args) noexcept;

// FC_VDRActionData_get_instance(data, index): a view of the router
// information that opens element `index` of vdrActions.
PyObject *FC_VDRActionData_get_instance(PyObject *, PyObject *args) noexcept;

// FC_IOCInvalEntries___getitem__(table, index): an owned copy of one entity.
PyObject *FC_IOCInvalEntries_getitem(PyObject *, PyObject *args) noexcept;

// FCHashStats___getitem__(stats, index): one element of bucketLengthMap.
PyObject *FCHashStats_getitem(PyObject *, PyObject *args) noexcept;

// FC_HashStatsIOC___getitem__(buffer, index): an owned copy of one FCHashStats.
PyObject *FC_HashStatsIOC_getitem(PyObject *, PyObject *args) noexcept;
