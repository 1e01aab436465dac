/* A record that exercises every field kind, for the test-only module. Groups
 * of bit-fields are kept in their own storage units by zero-width fields. */
#ifndef SWIGTEST_RECORDS_H
#define SWIGTEST_RECORDS_H

#include "hyp_kernel_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct swigtest_Probe {
    signed char i8;
    short i16;
    int i32;
    long long i64;
    unsigned char u8;
    unsigned short u16;
    unsigned int u32;
    unsigned long ul;
    unsigned long long u64;
    char flag;
    unsigned char mac[6];
    unsigned char low4 : 4;         /* byte 47 */
    unsigned char high4 : 4;
    unsigned short b16_a : 3;       /* bytes 48-49 */
    unsigned short b16_b : 13;
    unsigned int : 0;
    unsigned int b32_a : 1;         /* bytes 52-55 */
    unsigned int b32_b : 24;
    unsigned int b32_c : 7;
    unsigned long long b64_a : 56;  /* bytes 56-63 */
    unsigned long long b64_b : 8;
    char *label;
    hyp_String *text;
    void *cookie;
    char name[8];
    hyp_Name names[2];
    hyp_String inner;
    int items[0];
} swigtest_Probe;

HYP_STATIC_ASSERT(offsetof(swigtest_Probe, flag) == 40);
HYP_STATIC_ASSERT(offsetof(swigtest_Probe, mac) == 41);
HYP_STATIC_ASSERT(offsetof(swigtest_Probe, label) == 64);
HYP_STATIC_ASSERT(offsetof(swigtest_Probe, inner) == 160);
HYP_STATIC_ASSERT(sizeof(swigtest_Probe) == 176);

/* Functions of each kind the operation template handles, in a library loaded
 * beside the module; each counts its calls, so tests can tell that a refused
 * argument kept the call out. */
unsigned int probe_calls(void);
unsigned int probe_add(unsigned int a, int b, char flag);
const char *probe_echo(const char *first, const char *second);
void probe_store(swigtest_Probe *probe, unsigned int value);
swigtest_Probe *probe_same(swigtest_Probe *probe);

#ifdef __cplusplus
}
#endif

#endif
