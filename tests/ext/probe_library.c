/* A stand-in for a native library: functions of the kinds the operation
 * template handles, for its tests. */
#include "swigtest_records.h"

static unsigned int calls;

__attribute__((visibility("default"))) unsigned int probe_calls(void) { return calls; }

__attribute__((visibility("default"))) unsigned int probe_add(unsigned int a, int b, char flag) {
    ++calls;
    return a + (unsigned int)b + (unsigned char)flag;
}

__attribute__((visibility("default"))) const char *probe_echo(const char *first, const char *second) {
    ++calls;
    return first ? first : second;
}

__attribute__((visibility("default"))) void probe_store(swigtest_Probe *probe, unsigned int value) {
    ++calls;
    if (probe) probe->u32 = value;
}

__attribute__((visibility("default"))) swigtest_Probe *probe_same(swigtest_Probe *probe) {
    ++calls;
    return probe;
}
