"""Distributed switch state in plain Python: switches, ports, port data, host
and global properties, aliases and state blocks, read through the switch
state operations of ``_libfc`` with the output cells and callbacks of
``_libfc_ptr``. Every status other than ``HYP_OK`` raises :class:`DVSError`,
and so does a store the library cannot use; every block the library hands
out is released before the function returns.

The functions may be called from several threads: what the library hands
out (handles, item values) stays valid only until its next walk of the same
state, so each function holds one lock from its first library call until
the last byte is copied into Python objects."""

from typing import Dict, List, NamedTuple, Optional, Tuple

import _libfc
import _libfc_ptr as _ptr

from ._locking import SWITCH_STATE, holding

__all__ = [
    "DVSError", "Switch", "Port", "Item", "status_name", "check",
    "switches", "switch", "resolve_switch", "ports", "port_list", "port_data", "port_data_items",
    "host_props", "host_prop", "global_props", "global_prop", "alias", "state",
]

# Reentrant: the public functions call one another.
_locked = holding(SWITCH_STATE)


def _status_names() -> Dict[int, str]:
    names: Dict[int, str] = {}
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
    """A switch state operation returned a status other than ``HYP_OK``.

    ``subject`` says what was asked for ("switch 'dvs-9'", "the switch
    state store"), ``operation`` names the library function that answered."""

    def __init__(self, operation: str, status: int, subject: Optional[str] = None) -> None:
        self.operation: str = operation
        self.status: int = status
        self.subject: str = subject or operation
        self.name: str = status_name(status)
        self.text: str = _libfc.HYP_ReturnStatusToString(status) or ""
        super().__init__("%s: %s (%s)" % (self.subject, self.text or "failed", self.name))


def check(operation: str, status: int, subject: Optional[str] = None) -> None:
    """Raise DVSError unless status is HYP_OK."""
    if status != _libfc.HYP_OK:
        raise DVSError(operation, status, subject)


STORE = "the switch state store"


def _check_store() -> None:
    # The iteration functions return nothing, so an unusable store would walk
    # as an empty one: ask the library whether it can load its state at all.
    check("DVSLoadConfig", _libfc.DVSLoadConfig(), STORE)


def _not_found(operation: str, subject: str) -> DVSError:
    _check_store()  # a broken store is the better answer than "not found"
    return DVSError(operation, _libfc.HYP_NOT_FOUND, subject)


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
    exists: bool


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


def _take_block(operation: str, subject: str, *args) -> bytes:
    """Call an operation that hands out a block through (void **, int *) and
    return its bytes, releasing the block."""
    data, length = _ptr.new_voidpp(), _ptr.new_intp()
    check(operation, getattr(_libfc, operation)(*args, data, length), subject)
    block = _ptr.voidpp_value(data)
    if block is None:
        return b""
    try:
        return _ptr.cdata(block, max(_ptr.intp_value(length), 0))
    finally:
        _libfc.DVSHYP_DataFree(block)


def _item(handle) -> Item:
    # The value belongs to the item, which the next walk may free: the caller
    # holds the lock from the walk until this copy.
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


def _switch_handle(id_or_alias: str):
    handle = _libfc.DVSState_SwitchFindByAlias(id_or_alias)
    if handle is None:
        raise _not_found("DVSState_SwitchFindByAlias", "switch %r" % id_or_alias)
    return handle


def _port_handle(switch_id: str, port_id: str):
    handle = _libfc.DVSState_PortFind(switch_id, port_id)
    if handle is None:
        raise _not_found("DVSState_PortFind", "port %r of switch %r" % (port_id, switch_id))
    return handle


def _describe(handle) -> Switch:
    switch_id = _libfc.DVS_SwitchId(handle)
    try:
        alias_text = _text_value(_take_block("DVSHYP_GlobalPropGet", "the alias of switch %r" % switch_id,
                                             switch_id, _libfc.HYP_FABPROP_SWITCH_ALIAS))
    except DVSError as error:
        if error.status != _libfc.HYP_NOT_FOUND:
            raise
        alias_text = None  # a switch without an alias
    return Switch(switch_id, _libfc.DVS_SwitchName(handle), alias_text or None, _libfc.DVS_ClassName(handle),
                  _libfc.DVS_Version(handle), _libfc.DVS_GetMaxPorts(handle))


@_locked
def switches() -> List[Switch]:
    """Every switch the library knows, in its order."""
    _check_store()
    return [_describe(handle) for handle in _collect("DVSState_SwitchForEach")]


@_locked
def switch(id_or_alias: str) -> Switch:
    """One switch by id or alias."""
    return _describe(_switch_handle(id_or_alias))


@_locked
def resolve_switch(id_or_alias: str) -> str:
    """The id of the switch with this id or alias."""
    return _libfc.DVS_SwitchId(_switch_handle(id_or_alias))


def alias(name: str) -> str:
    """The id of the switch a switch alias names."""
    return resolve_switch(name)


@_locked
def ports(switch_id: str) -> List[Port]:
    """The ports of a switch."""
    found = []
    for handle in _collect("DVSState_PortForEach", _switch_handle(switch_id)):
        port_id = _libfc.DVS_PortId(handle)
        found.append(Port(port_id, _libfc.DVS_PortAlias(handle) or None,
                          _libfc.DVPortExist(switch_id, port_id) == "\x01"))
    return found


# DVPortList: a 4-byte count and a 4-byte type, then DVPortData elements (a
# 48-byte port id and a 32-bit connection id) back to back, though the record
# declares only one.
_PORT_LIST_HEADER, _PORT_DATA_SIZE, _PORT_ID_SIZE = 8, 52, 48


@_locked
def port_list(switch_id: str, port_type: int = _libfc.DVSPORT_TYPE_ACTIVE) -> List[Tuple[str, int]]:
    """(port id, connection id) of the switch's ports of one DVSPORT_TYPE_*."""
    cell = _ptr.new_DVPortListpp()
    check("DVSHYP_SwitchPortList", _libfc.DVSHYP_SwitchPortList(switch_id, cell, port_type),
          "the ports of switch %r" % switch_id)
    listing = _ptr.DVPortListpp_value(cell)
    if listing is None:
        return []
    block = _ptr.as_voidp(listing)
    try:
        count = _libfc.DVPortList_nports_get(listing)
        image = _ptr.cdata(block, _PORT_LIST_HEADER + _PORT_DATA_SIZE * count)
    finally:
        _libfc.DVSHYP_DataFree(block)
    result: List[Tuple[str, int]] = []
    for start in range(_PORT_LIST_HEADER, len(image), _PORT_DATA_SIZE):
        element = image[start:start + _PORT_DATA_SIZE]
        result.append((element[:_PORT_ID_SIZE].rstrip(b"\0").decode(),
                       int.from_bytes(element[_PORT_ID_SIZE:], "little")))
    return result


@_locked
def port_data(switch_id: str, port_id: str, name: str) -> bytes:
    """The value of one port data entry."""
    return _take_block("DVSHYP_PortDataGet", "data %r of port %r of switch %r" % (name, port_id, switch_id),
                       switch_id, port_id, name)


@_locked
def port_data_items(switch_id: str, port_id: str) -> List[Item]:
    """Every data entry of a port."""
    return [_item(h) for h in _collect("DVSState_PortDataForEach", _port_handle(switch_id, port_id))]


@_locked
def host_props(switch_id: str) -> List[Item]:
    """The host properties of a switch."""
    return [_item(h) for h in _collect("DVSState_HostPropForEach", _switch_handle(switch_id))]


@_locked
def global_props(switch_id: str) -> List[Item]:
    """The global properties of a switch."""
    return [_item(h) for h in _collect("DVSState_GlobalPropForEach", _switch_handle(switch_id))]


@_locked
def host_prop(switch_id: str, name: str) -> bytes:
    return _take_block("DVSHYP_HostPropGet", "host property %r of switch %r" % (name, switch_id), switch_id, name)


@_locked
def global_prop(switch_id: str, name: str) -> bytes:
    return _take_block("DVSHYP_GlobalPropGet", "global property %r of switch %r" % (name, switch_id),
                       switch_id, name)


@_locked
def state(persistent: bool = False) -> bytes:
    """The serialised state block of every switch."""
    return _take_block("DVSHYP_PersistentStateGet" if persistent else "DVSHYP_StateGet", STORE)
