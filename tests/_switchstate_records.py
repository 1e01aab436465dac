"""Layouts of the distributed switch port records."""

from _layout import ARR, Field, I, Record, U

RECORDS = (
    Record("OpaqueDVPortData", 176, (
        Field("dvPortId", "chars", "char [48]", 0, 48, count=48),
        Field("externalId", "chars", "char [128]", 48, 128, count=128),
    )),
    Record("DVPortData", 52, (
        Field("dvPortId", "chars", "char [48]", 0, 48, count=48),
        U("connectId", "hyp_uint32", 48, 32),
    )),
    Record("DVPortList", 60, (
        I("nports", "int", 0),
        I("type", "DVSPortType", 4),
        ARR("dvPort", "DVPortData [1]", 8, "_p_DVPortData", 1, 52),
    )),
)
