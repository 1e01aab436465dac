"""Distributed switch state in plain Python: switches, ports, port data, host
and global properties, aliases and state blocks, read through the switch
state operations of ``_libfc`` with the output cells and callbacks of
``_libfc_ptr``. Every status other than ``HYP_OK`` raises :class:`DVSError`;
every block the library hands out is released before the function returns."""

from typing import Dict, List, NamedTuple, Optional

import _libfc
import _libfc_ptr as _ptr

__all__ = [
    "DVSError", "Switch", "Port", "Item", "status_name", "check",
    "switches", "switch", "resolve_switch", "ports", "port_list", "port_data", "port_data_items",
    "host_props", "host_prop", "global_props", "global_prop", "alias", "state",
]


def _status_names() -> Dict[int, str]:
    names = {}
    for name, value in vars(_libfc).items():
        # The status codes are HYP_OK and the failures numbered from 0x0BAD0001.
        if name.startswith("HYP_") and type(value) is int and (value == 0 or value >> 16 == 0x0BAD):
            names.setdefault(value, name)
    names[_libfc.HYP_OK] = "HYP_OK"  # HYP_FALSE shares the value
    return names


_STATUS_NAMES = _status_names()


def status_name(status: int) -> str:
    """The ``HYP_*`` name of a status, or its number in hexadecimal."""
    return _STATUS_NAMES.get(status, "0x%08x" % (status & 0xFFFFFFFF))


class DVSError(Exception):
    """A switch state operation returned a status other than ``HYP_OK``."""

    def __init__(self, operation: str, status: int) -> None:
        self.operation = operation
        self.status = status
        self.name = status_name(status)
        self.text = _libfc.HYP_ReturnStatusToString(status) or ""
        super().__init__("%s: %s (%s)" % (operation, self.name, self.text))


def check(operation: str, status: int) -> None:
    """Raise DVSError unless status is HYP_OK."""
    if status != _libfc.HYP_OK:
        raise DVSError(operation, status)


class Switch(NamedTuple):
    id: str
    name: Optional[str]
    alias: Optional[str]
    class_name: Optional[str]
    version: int
    max_ports: int


class Port(NamedTuple):
    id: str
    alias: Optional[str]


class Item(NamedTuple):
    """One named data item: a port data entry or a host or global property."""
    name: str
    prop_type: int
    value: bytes


def _collect(operation: str, *leading) -> list:
    """The entries an iteration operation walks, as void * pointer objects."""
    found: list = []
    getattr(_libfc, operation)(*leading, _ptr.collect_handles, _ptr.list_context(found))
    return found


def _take_block(operation: str, *args) -> bytes:
    """Call an operation that hands out a block through (void **, int *) and
    return its bytes, releasing the block."""
    data, length = _ptr.new_voidpp(), _ptr.new_intp()
    check(operation, getattr(_libfc, operation)(*args, data, length))
    block = _ptr.voidpp_value(data)
    if block is None:
        return b""
    try:
        return _ptr.cdata(block, max(_ptr.intp_value(length), 0))
    finally:
        _libfc.DVSHYP_DataFree(block)


def _item(handle) -> Item:
    value = _ptr.new_voidpp()
    size = _libfc.DVSData_Data(handle, value)
    address = _ptr.voidpp_value(value)
    data = _ptr.cdata(address, size) if address is not None else b""
    return Item(_libfc.DVSData_Name(handle), _libfc.DVSData_PropType(handle), data)


def _text_value(data: bytes) -> Optional[str]:
    try:
        return data.rstrip(b"\0").decode()
    except UnicodeDecodeError:
        return None


def _switch_handle(switch_id: str):
    handle = _libfc.DVSState_SwitchFindByAlias(switch_id)
    if handle is None:
        raise DVSError("DVSState_SwitchFindByAlias", _libfc.HYP_NOT_FOUND)
    return handle


def _describe(handle) -> Switch:
    switch_id = _libfc.DVS_SwitchId(handle)
    try:
        alias_text = _text_value(_take_block("DVSHYP_GlobalPropGet", switch_id, _libfc.HYP_FABPROP_SWITCH_ALIAS))
    except DVSError:
        alias_text = None
    return Switch(switch_id, _libfc.DVS_SwitchName(handle), alias_text or None, _libfc.DVS_ClassName(handle),
                  _libfc.DVS_Version(handle), _libfc.DVS_GetMaxPorts(handle))


def switches() -> List[Switch]:
    """Every switch the library knows, in its order."""
    return [_describe(handle) for handle in _collect("DVSState_SwitchForEach")]


def switch(switch_id: str) -> Switch:
    """One switch by id or alias."""
    return _describe(_switch_handle(switch_id))


def resolve_switch(id_or_alias: str) -> str:
    """The id of the switch with this id or alias."""
    return _libfc.DVS_SwitchId(_switch_handle(id_or_alias))


def alias(name: str) -> str:
    """The id of the switch a switch alias names."""
    return resolve_switch(name)


def ports(switch_id: str) -> List[Port]:
    """The ports of a switch."""
    return [Port(_libfc.DVS_PortId(p), _libfc.DVS_PortAlias(p) or None)
            for p in _collect("DVSState_PortForEach", _switch_handle(switch_id))]


def port_list(switch_id: str, port_type: int = _libfc.DVSPORT_TYPE_ACTIVE) -> List[tuple]:
    """(port id, connection id) of the switch's ports of one DVSPORT_TYPE_*."""
    cell = _ptr.new_DVPortListpp()
    check("DVSHYP_SwitchPortList", _libfc.DVSHYP_SwitchPortList(switch_id, cell, port_type))
    listing = _ptr.DVPortListpp_value(cell)
    if listing is None:
        return []
    count = _libfc.DVPortList_nports_get(listing)
    # Elements lie back to back from offset 8; the record declares only one.
    image = _ptr.cdata(_ptr.as_voidp(listing), 8 + 52 * count)
    result = []
    for i in range(count):
        element = image[8 + 52 * i:8 + 52 * (i + 1)]
        result.append((element[:48].rstrip(b"\0").decode(), int.from_bytes(element[48:], "little")))
    return result


def port_data(switch_id: str, port_id: str, name: str) -> bytes:
    """The value of one port data entry."""
    return _take_block("DVSHYP_PortDataGet", switch_id, port_id, name)


def port_data_items(switch_id: str, port_id: str) -> List[Item]:
    """Every data entry of a port."""
    port = _libfc.DVSState_PortFind(switch_id, port_id)
    if port is None:
        raise DVSError("DVSState_PortFind", _libfc.HYP_NOT_FOUND)
    return [_item(h) for h in _collect("DVSState_PortDataForEach", port)]


def host_props(switch_id: str) -> List[Item]:
    """The host properties of a switch."""
    return [_item(h) for h in _collect("DVSState_HostPropForEach", _switch_handle(switch_id))]


def global_props(switch_id: str) -> List[Item]:
    """The global properties of a switch."""
    return [_item(h) for h in _collect("DVSState_GlobalPropForEach", _switch_handle(switch_id))]


def host_prop(switch_id: str, name: str) -> bytes:
    return _take_block("DVSHYP_HostPropGet", switch_id, name)


def global_prop(switch_id: str, name: str) -> bytes:
    return _take_block("DVSHYP_GlobalPropGet", switch_id, name)


def state(persistent: bool = False) -> bytes:
    """The serialised state block of every switch."""
    return _take_block("DVSHYP_PersistentStateGet" if persistent else "DVSHYP_StateGet")

