// Every public header compiles as C++ too; their static assertions run here.
#include "hyp_kernel_types.h"
#include "hyp_packet_headers.h"
#include "libfc.h"
#include "libfabPublic.h"
