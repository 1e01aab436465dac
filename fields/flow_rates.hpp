// The packets per second of each flow a listing shows, since the listing
// before (`flows --watch`): each listing's packet counts kept by flow id,
// in C, for the next to meet, so that a text writer spells a flow's rate
// as it writes its row or line, without a Flow object per flow.
#pragma once

#include <cstdint>

#include "runtime/python.hpp"

namespace flow_rates {

// The type, flow_rates(); null with an exception when it cannot be made.
PyTypeObject *type();

// Keeps the flow's packet count for the next listing; true, with its rate in
// per_second, when the listing before showed the flow with no more packets
// and the time between the two is known. It touches no Python object: a
// page is written beside the interpreter (one page at a time).
bool rate(PyObject *rates, std::uint64_t id, std::uint64_t packets, double &per_second) noexcept;

// Whether the rates ran out of memory keeping a count (the writer's page
// then raises MemoryError).
bool failed(PyObject *rates) noexcept;

}  // namespace flow_rates
