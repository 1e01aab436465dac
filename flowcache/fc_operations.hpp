// The flow cache library's C declarations, for the table of its operations.
#pragma once

#include "libfc.h"
#include "runtime/python.hpp"
