"""Shows what _libfc exposes: its methods, the record types behind its pointer
descriptors, its constants and cvar, a cached flow read through the companion
classes, and one record walked field by field."""

import _libfc
import libfc


def main():
    methods = [name for name, value in vars(_libfc).items() if callable(value) and not isinstance(value, type)]
    records = [name[: -len("_swigregister")] for name in methods if name.endswith("_swigregister")]
    constants = [
        name for name, value in vars(_libfc).items()
        if not name.startswith("__") and name != "cvar" and isinstance(value, (int, str))
    ]
    print(f"_libfc from {_libfc.__file__}")
    print(f"{len(methods)} methods, {len(records)} record classes, {len(constants)} constants")
    print(f"cvar: {_libfc.cvar!r} {_libfc.cvar} hyp_ModuleCurrentID={_libfc.cvar.hyp_ModuleCurrentID}")

    print("\nrecord classes and the descriptor each pointer carries:")
    for name in records:
        pointer = getattr(_libfc, f"new_{name}")()
        print(f"  {name:40} {str(pointer)[17:]}")  # str() is "_", 16 hex digits, then the name
        getattr(_libfc, f"delete_{name}")(pointer)

    print("\nsome constants:")
    for name in ["HYP_OK", "HYP_FAILURE", "HYP_LAST_ERR", "HYP_EXABYTE", "ALL_PROP_TYPE", "FC_CHARDEV_PATH"]:
        print(f"  {name} = {getattr(_libfc, name)!r}")

    print("\nan IPv6 socket address built through the companion classes:")
    address = libfc.hyp_SocketIPv6Address()
    address.sin6_family = _libfc.HYP_SOCKET_AF_INET6
    address.sin6_port = 0x5000  # host order, as stored
    raw = address.sin6_addr.__u6_addr
    words = libfc.hyp_SocketIPv6AddressAddr___u6_addr()
    _libfc.hyp_SocketIPv6AddressAddr___u6_addr___u6_addr32_set(raw, words.__u6_addr32)
    print(f"  {address!r}")
    print(f"  family={address.sin6_family} port={address.sin6_port} addr view={raw.this}")

    print("\nthe first cached flow, read through the companion classes:")
    flows = _libfc.FC_GetFlows(0, 0, 0, 0, None, 0, 0, 0, 0, None, 0)
    if flows is not None and len(flows):
        entry = flows[0]  # an owned copy of entry 0
        key = entry.fkey
        print(f"  {entry!r}")
        print(f"  port {key.portID}, {_libfc.FC_FlowEntryIOC_get_srcip_entry(entry, key.flags & 1)} -> "
              f"{_libfc.FC_FlowEntryIOC_get_dstip_entry(entry, key.flags & 1)}, proto {key.proto}, "
              f"destination ports {[list(entity) for entity in entry]}")
    else:
        print("  (the cache is empty)")

    name = libfc.hyp_Name()
    name.string = "uplink0"
    print(f"\nhyp_Name: string={name.string!r} repr={repr(name)!r}")
    try:
        name.string = "x" * 33
    except TypeError as error:
        print(f"too long a name is refused: {error}")


if __name__ == "__main__":
    main()
