// C declarations of the switch state records and the hand-written methods
// that stand among them.
#pragma once

#include "libfabPublic.h"
#include "runtime/python.hpp"
