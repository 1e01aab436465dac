"""The module's complete method table against the C interface it wraps: the
records of each header stand together, headers in the order kernel types,
packet headers, flow cache library, switch state library; each record has its
accessors, extra methods, constructor, destructor and registration in that
order; the library functions follow their header's records in the order the
header declares them; the module's own functions stand beside the record they
serve."""

import os
import pathlib
import re


from _helpers import module_methods
from _records import RECORDS, method_names

INCLUDE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "include")
HEADERS = ["hyp_kernel_types.h", "hyp_packet_headers.h", "libfc.h", "libfabPublic.h"]

RECORD_NAME = re.compile(r"\}\s*(\w+)\s*;")
FUNCTION_DECLARATION = re.compile(r"^[A-Za-z_][\w \*]*?\b(\w+)\s*\([^;{]*\)\s*;", re.M)


# Each header's text without its comments.
SOURCE = {h: re.sub(r"/\*.*?\*/", "", pathlib.Path(INCLUDE, h).read_text(), flags=re.S) for h in HEADERS}
METHODS = module_methods()
HEADER_OF = {r.name: next(h for h in HEADERS if r.name in RECORD_NAME.findall(SOURCE[h])) for r in RECORDS}
# The two libraries' headers declare the functions the operations wrap; the
# packet header file declares the module's own bitmap conversion.
LIBRARY_FUNCTIONS = {h: [m.group(1) for m in FUNCTION_DECLARATION.finditer(SOURCE[h]) if m.group(1) in METHODS
                         and not m.group(0).startswith(("typedef", "HYP_STATIC_ASSERT", "static"))]
                     if h.startswith("lib") else [] for h in HEADERS}


def test_full_table_is_the_declaration_order():
    runs = []  # the records of each header stand together, in header order
    for r in RECORDS:
        if not runs or runs[-1] != HEADER_OF[r.name]:
            runs.append(HEADER_OF[r.name])
    assert runs == [h for h in HEADERS if h in runs]
    expected = ["SWIG_PyInstanceMethod_New"]
    for i, r in enumerate(RECORDS):
        expected += method_names(r)
        last_of_header = i + 1 == len(RECORDS) or HEADER_OF[RECORDS[i + 1].name] != HEADER_OF[r.name]
        if last_of_header:
            expected += LIBRARY_FUNCTIONS[HEADER_OF[r.name]]
    # The module's own functions (address texts, buffer views, the telemetry
    # bitmap) stand beside the record they serve; everything else must be
    # exactly the declared sequence.
    own = [m for m in METHODS if m not in expected]
    assert [m for m in METHODS if m in expected] == expected
    assert {name: METHODS[METHODS.index(name) - 1] for name in own} == OWN_FUNCTIONS_FOLLOW


# Each of the module's own functions and the method right before it.
OWN_FUNCTIONS_FOLLOW = {
    "ovl_INTBitmapConvert": "ovl_INTPathprobeMeta_swigregister",
    "FC_ACTION_SIZE": "FC_FlowStats_swigregister",
    "FC_VDRActionData_get_instance": "FC_VDRActionData_swigregister",
    "FC_VDL2EncapActionDataIOC_get_sip": "FC_VDL2EncapActionDataIOC_swigregister",
    "FC_VDL2EncapActionDataIOC_get_dip": "FC_VDL2EncapActionDataIOC_get_sip",
    "FC_FlowEntryIOC_get_srcip_entry": "FC_FlowEntryIOC_swigregister",
    "FC_FlowEntryIOC_get_dstip_entry": "FC_FlowEntryIOC_get_srcip_entry",
    "FC_IOCFlows_get_num_flows": "FC_IOCFlows_swigregister",
    "FC_IOCFlows_get_flow": "FC_IOCFlows_get_num_flows",
}
