"""What a Python user expects of the companion's record classes: address
texts turned into what fields take, and len() / indexing / iteration bounded
by the counts that buffers state. (The repr: test_companion_values.py.)"""

import ctypes
import gc
import weakref

import pytest

import _libfc
import libfc
from libfc._sequence import _Sequence
from _helpers import addr, poke, run_python_ok as run_python
from _records import BY_NAME

MAC = "00:1a:2b:ff:00:01"
MAC_BYTES = bytes.fromhex("001a2bff0001")


def image(size, seed=1):
    """Recognisable bytes: no two neighbouring bytes equal, none all-zero runs."""
    return bytes((seed * 29 + i * 7 + 1) & 0xFF for i in range(size))


# --- address helpers -----------------------------------------------------------

MACS = [("00:1a:2b:ff:00:01", MAC_BYTES), ("00-1A-2B-FF-00-01", MAC_BYTES), ("ff:ff:ff:ff:ff:ff", b"\xff" * 6)]
BAD_MACS = ["", "00:1a:2b:ff:00", "00:1a:2b:ff:00:01:02", "00:1a:2b:ff:00:0g", "001a2bff0001",
            "00:1a-2b:ff:00:01", "0:1a:2b:ff:00:01", " 00:1a:2b:ff:00:01", "00:1a:2b:ff:00:01\n"]
# The IP helpers parse with the ipaddress module: what they add is the byte order and the message.
IPV4 = [("10.0.0.1", bytes([10, 0, 0, 1])), ("192.168.1.254", bytes([192, 168, 1, 254]))]
BAD_IPV4 = ["", "256.0.0.1", "::1"]
IPV6 = [("fe80::1:2", bytes.fromhex("fe80" + "00" * 10 + "00010002")),
        ("::ffff:10.0.0.1", bytes(10) + b"\xff\xff" + bytes([10, 0, 0, 1]))]
BAD_IPV6 = ["", "10.0.0.1", "fe80::1::2"]

HELPERS = [
    (libfc.mac, MACS, BAD_MACS, "not a hardware address: %r"),
    (libfc.ipv4, IPV4, BAD_IPV4, "not an IPv4 address: %r"),
    (libfc.ipv6, IPV6, BAD_IPV6, "not an IPv6 address: %r"),
]


def as_key_bytes(result):
    """The bytes a helper's result puts into a record."""
    return result.to_bytes(4, "little") if isinstance(result, int) else bytes(result)


@pytest.mark.parametrize("helper,good,bad,message", HELPERS, ids=["mac", "ipv4", "ipv6"])
def test_address_helpers_accept_and_refuse_texts(helper, good, bad, message):
    for text, expected in good:
        assert as_key_bytes(helper(text)) == expected, text
    for text in bad:
        with pytest.raises(ValueError) as info:
            helper(text)
        assert str(info.value) == message % text
    for value in (b"10.0.0.1", None, 42):
        with pytest.raises(TypeError):
            helper(value)


def test_octets_pass_as_unsigned_char_pointers_and_keep_their_memory_while_they_live():
    # A pointer field keeps the address.
    s = libfc.hyp_String()
    held = libfc.mac(MAC)
    s.buffer = held
    gc.collect()
    churn = [libfc.hyp_SocketAddress() for _ in range(50)]
    for record in churn:
        poke(record, 0, b"\xee" * 256)
    assert ctypes.string_at(addr(s.buffer), 6) == MAC_BYTES == bytes(held) and len(held) == 6
    assert held == libfc.mac(MAC.upper()) and held != libfc.mac("00:00:00:00:00:00")
    # A byte-array field copies from it.
    u6 = libfc.hyp_SocketIPv6AddressAddr___u6_addr()
    u6.__u6_addr8 = libfc.ipv6("fe80::1")
    assert bytes(u6) == bytes.fromhex("fe80" + "00" * 13 + "01")


def test_dropped_octets_free_their_memory_without_leak_lines():
    result = run_python("""
        import libfc
        for _ in range(2000):
            libfc.mac("00:1a:2b:ff:00:01")
            libfc.ipv6("fe80::1")
        """)
    assert "memory leak" not in result.stdout + result.stderr


# --- bounded sequences -----------------------------------------------------------

def test_sequence_length_is_the_stated_count_capped_by_the_array():
    # A flow's action entity whose destination ports, 100, 101, ..., are counted by dstPortsNum.
    cls, layout = libfc.FC_ActionEntityIOC, BY_NAME["FC_ActionEntityIOC"]
    capacity = layout.field("dport").count
    obj = cls()
    poke(obj, layout.field("dport").offset, b"".join((100 + i).to_bytes(4, "little") for i in range(capacity)))
    assert len(obj) == 0 and list(obj) == []
    obj.dstPortsNum = 3
    assert len(obj) == 3 and list(obj) == [100, 101, 102] and list(reversed(obj)) == [102, 101, 100]
    assert obj[0] == 100 and obj[-1] == 102 and obj[-3] == 100
    assert obj[1:] == [101, 102] and obj[::-2] == [102, 100]
    for index, error in [(3, IndexError), (-4, IndexError), (2**40, IndexError), ("1", TypeError),
                         (1.0, TypeError), (None, TypeError)]:
        with pytest.raises(error):
            obj[index]
    obj.dstPortsNum = capacity + 200
    assert len(obj) == capacity and obj[-1] == 100 + capacity - 1


def test_a_record_without_a_sequence_line_is_no_sequence():
    mixed = type("Mixed", (_Sequence, libfc.hyp_MgmtInstances), {"__slots__": ()})()
    for use in (len, iter, lambda obj: obj[0]):
        with pytest.raises(TypeError, match="hold no counted run of items"):
            use(mixed)


def test_the_class_caches_let_go_of_the_classes_they_displace():
    # Far more sequence classes than the caches have places (a few hundred):
    # a displaced entry drops its class, which can then die; only the
    # entries left hold theirs.
    refs = []
    for i in range(2000):
        cls = type("Entry%d" % i, (libfc.FC_FlowEntryIOC,), {})
        assert len(cls()) == 0
        refs.append(weakref.ref(cls))
    del cls
    gc.collect()
    assert sum(r() is not None for r in refs) < 500


def test_flow_entry_iterates_its_action_entities_in_place():
    cls, layout = libfc.FC_FlowEntryIOC, BY_NAME["FC_FlowEntryIOC"]
    array = layout.field("actionEntity")
    entry = type("Entry", (cls,), {})()  # a subclass is a sequence of its record's items too
    entry.numActionEntities = 2
    views = list(entry)
    assert [type(v) for v in views] == [libfc.FC_ActionEntityIOC] * 2
    assert [addr(v) for v in views] == [addr(entry) + array.offset + i * array.elem_width for i in range(2)]
    entry.numActionEntities = array.count + 5
    assert len(entry) == array.count
    assert addr(entry[-1]) == addr(entry) + array.offset + (array.count - 1) * array.elem_width
    with pytest.raises(IndexError):
        entry[array.count]


def test_an_uncounted_integer_array_lists_every_element():
    cls, layout = libfc.FCHashStats, BY_NAME["FCHashStats"]
    array = layout.field("bucketLengthMap")
    obj = cls()
    values = [7 * i + 1 for i in range(array.count)]
    poke(obj, array.offset, b"".join(v.to_bytes(4, "little") for v in values))
    assert list(obj) == values and obj[-1] == values[-1]


def retarget(obj, address):
    """Point a record instance at other memory, as a library's buffer is
    reached: the record it had is freed and the instance no longer owns."""
    this = obj.this
    getattr(_libfc, "delete_" + type(obj).__name__)(this)
    # The pointer object's address word; its layout is shared by every module of the runtime.
    ctypes.c_void_p.from_address(id(this) + 16).value = address


OPEN_BUFFERS = [
    # record, count field, array of items, whether iteration views items in place
    ("FC_IOCFlows", "numEntries", "entries", True),
    ("FC_IOCInvalEntries", "numEntries", "entries", False),
    ("FC_HashStatsIOC", "entries", "stats", False),
]


@pytest.mark.parametrize("name,count_field,array_field,in_place", OPEN_BUFFERS, ids=[b[0] for b in OPEN_BUFFERS])
def test_buffers_hold_the_items_their_header_counts(name, count_field, array_field, in_place):
    cls, layout = getattr(libfc, name), BY_NAME[name]
    array = layout.field(array_field)
    header = cls()
    setattr(header, count_field, 2)
    assert len(header) == 0, "a header made here has nothing after it"
    memory = ctypes.create_string_buffer(image(layout.size + 3 * array.elem_width, 9))
    buffer = cls()
    retarget(buffer, ctypes.addressof(memory))
    setattr(buffer, count_field, 2)
    item_bytes = [memory.raw[layout.size + i * array.elem_width: layout.size + (i + 1) * array.elem_width]
                  for i in range(3)]
    assert len(buffer) == 2
    assert [bytes(item) for item in buffer] == item_bytes[:2]
    copy = buffer[1]
    assert copy.thisown and bytes(copy) == item_bytes[1]
    inside = [addr(item) - ctypes.addressof(memory) for item in buffer]
    if in_place:
        assert inside == [layout.size + i * array.elem_width for i in range(2)]
    else:
        assert not any(0 <= offset < len(memory) for offset in inside)
    with pytest.raises(IndexError):
        buffer[2]


def test_iteration_rechecks_the_record_and_its_count_at_every_item():
    cls, layout = libfc.FC_IOCFlows, BY_NAME["FC_IOCFlows"]
    width = layout.field("entries").elem_width
    memory = ctypes.create_string_buffer(layout.size + 3 * width)
    flows = cls()
    retarget(flows, ctypes.addressof(memory))
    flows.totalEntries = 1000  # the cache's total: not what this buffer holds
    flows.numEntries = 3
    assert len(flows) == 3
    items = iter(flows)
    assert addr(next(items)) == ctypes.addressof(memory) + layout.size
    flows.numEntries = 1
    with pytest.raises(IndexError):
        next(items)
    # Another record behind the same instance: its own count and origin decide.
    flows.numEntries = 3
    items = iter(flows)
    next(items)
    header = cls()
    header.numEntries = 3
    header.thisown = False  # counted as a library buffer, but made here: it has no entries
    flows.this = header.this
    with pytest.raises(IndexError):
        next(items)
    header.thisown = True
