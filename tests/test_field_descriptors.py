"""The companion's field descriptors (_libfc_fields.field) and record
initialisers: reading and writing in place must give exactly what the
module's getter and setter give, values, stored bytes and refusals alike,
both on the direct path (an instance of the generated class itself) and on
the property path (subclasses, a replaced or missing ``this``)."""

import functools

import pytest

import _libfc
import _libfc_fields
import libfc
from _helpers import poke, raw, run_python_ok, this_of
from _records import RECORDS, all_fields, field_id, getter, setter

FIELDS = all_fields()
WRITABLE = [(r, f) for r, f in FIELDS if f.writable]


def outcome(action):
    """What an action did: its normalised result, or its exception and text."""
    try:
        return "ok", normalised(action())
    except Exception as exc:  # noqa: BLE001 - the exact exception is what is compared
        return type(exc), str(exc)


def normalised(value):
    """Plain values as they are; pointers and views by type name, address
    and descriptor (the pointer object's text)."""
    if value is None or isinstance(value, (int, str)):
        return value
    return type(value).__name__, str(this_of(value))


def candidates(record, field):
    """Values to offer a setter, each made anew per call (pointer setters
    take ownership from what they are given): accepted and refused ones."""
    ints = [0, 1, 7, -1, 127, 128, 255, 256, 65535, 65536, 2**31 - 1, 2**31, 2**32, 2**63 - 1, 2**63,
            2**64 - 1, 2**64, -2**63, -2**63 - 1, True]
    others = [lambda: "x", lambda: "", lambda: "ab", lambda: "é", lambda: "x" * 300, lambda: b"ab",
              lambda: 1.5, lambda: None, lambda: [], lambda: libfc.mac("00:1a:2b:3c:4d:5e"),
              lambda: _libfc.new_hyp_AddrCookie(), lambda: libfc.FC_l2Key()]
    makers = [(lambda v=v: v) for v in ints] + others
    if field.target and field.target.startswith("_p_"):
        name = field.target[3:]
        cls = getattr(libfc, name, None)
        if cls is not None:
            makers.append(cls)  # a record of the very type the field holds
    if field.kind in ("array", "zarray"):
        # An array setter copies the whole array from wherever an accepted
        # argument points; one element's worth would be read past.
        makers = [make for make in makers if not str(getattr(made := make(), "this", made)).endswith(field.target)]
    return makers


def reads_as_hardware_address(field):
    """Six-byte address fields, and six-byte arrays, which the companion
    reads as text too."""
    return field.kind == "hwaddr" or (field.kind == "array" and (field.count, field.elem_width) == (6, 1))


@functools.cache
def subclass_of(name):
    """A subclass of a generated class, made once per class."""
    return type("Sub_" + name, (getattr(libfc, name),), {})


def make_instance(record, how):
    return (getattr(libfc, record.name) if how == "class" else subclass_of(record.name))()


@pytest.mark.parametrize("how", ["class", "subclass"])
@pytest.mark.parametrize("pair", FIELDS, ids=field_id)
def test_get_reads_and_set_stores_and_refuses_as_the_module_getter_and_setter(pair, how):
    record, field = pair
    inst = make_instance(record, how)
    module_get = getter(record, field)
    # Bytes that make every kind show something: small integers, text
    # characters, a hardware address; pointer fields stay null.
    pattern = bytes((0x41 + i % 26) for i in range(record.size))
    for image in (bytes(record.size), pattern):
        poke(inst, 0, image)
        if field.kind in ("ptr", "void", "text"):
            poke(inst, field.offset, bytes(8))
        expected = outcome(lambda: module_get(inst))
        if reads_as_hardware_address(field):  # the module gives a pointer to the six bytes
            expected = "ok", raw(inst, 6, field.offset).hex(":")
        for _ in range(2):  # the first read may learn the pointer type
            assert outcome(lambda: getattr(inst, field.name)) == expected
    if not field.writable:
        return
    module_set = setter(record, field)
    for make_value in candidates(record, field):
        inst = make_instance(record, how)
        bare = getattr(_libfc, "new_" + record.name)()
        try:
            if reads_as_hardware_address(field) and isinstance(make_value(), (str, bytes)):
                continue  # the companion takes address texts and bytes the module refuses
            got = outcome(lambda: setattr(inst, field.name, make_value()))
            expected = outcome(lambda: module_set(bare, make_value()))
            assert got[0] == expected[0], (make_value(), got, expected)
            if got != expected:
                # The companion words a refused value for its users, under the module's exception class.
                assert expected[1].startswith("in method ") and got[1].startswith(
                    "%s.%s: " % (record.name, field.name)), (make_value(), got, expected)
            # Stored addresses differ by nature; an array setter copies the
            # whole array from wherever its argument points, past a smaller
            # argument too, so only the outcome is compared there.
            if field.kind not in ("ptr", "void", "text", "array", "zarray"):
                assert raw(inst, record.size) == raw(bare, record.size), make_value()
        finally:
            if field.kind == "text":
                module_set(inst, None)
                module_set(bare, None)
            getattr(_libfc, "delete_" + record.name)(bare)


SCALARS = [(r, f) for r, f in WRITABLE if f.kind in ("uint", "int", "bits")]


@pytest.mark.parametrize("pair", SCALARS[:40], ids=field_id)
def test_a_replaced_or_missing_this_gets_the_module_messages(pair):
    record, field = pair
    module_get, module_set = getter(record, field), setter(record, field)
    other_record = "hyp_AddrCookie" if record.name != "hyp_AddrCookie" else "hyp_String"
    other = getattr(_libfc, "new_" + other_record)()
    inst = getattr(libfc, record.name)()
    inst.this = other  # the slot now holds a pointer of another record type
    for _ in range(2):  # then without any `this` at all
        assert outcome(lambda: getattr(inst, field.name)) == outcome(lambda: module_get(inst))
        assert outcome(lambda: setattr(inst, field.name, 1)) == outcome(lambda: module_set(inst, 1))
        if hasattr(inst, "this"):
            del inst.this
    got = outcome(lambda: delattr(getattr(libfc, record.name)(), field.name))
    plain = type(record.name, (), {field.name: property(module_get, module_set)})
    assert got == outcome(lambda: delattr(plain(), field.name))
    getattr(_libfc, "delete_" + other_record)(other)


def test_the_direct_path_skips_the_getter_and_the_property_path_calls_it():
    calls = []

    def spy_get(obj):
        calls.append("get")
        return _libfc.hyp_FabPortStatistics_pktsInUnicast_get(obj)

    def spy_set(obj, value):
        calls.append("set")
        return _libfc.hyp_FabPortStatistics_pktsInUnicast_set(obj, value)

    made = _libfc_fields.describe_field(spy_get, spy_set, "hyp_FabPortStatistics.pktsInUnicast")
    probe = type("Probe", (libfc._record._Record,), {"value": made})
    inst = probe()
    inst.this = _libfc.new_hyp_FabPortStatistics()
    inst.value = 5  # may learn the pointer type through the property path
    calls.clear()
    for n in range(10):
        inst.value = n
        assert inst.value == n
    assert calls == []
    with pytest.raises(TypeError, match="^Probe.value: expected int, got str$"):
        inst.value = "x"
    assert calls == []  # a refusal on the direct path is worded without the module's setter
    sub = type("SubProbe", (probe,), {})()
    sub.this = _libfc.new_hyp_FabPortStatistics()
    calls.clear()
    sub.value = 3
    assert sub.value == 3 and calls == ["set", "get"]
    _libfc.delete_hyp_FabPortStatistics(inst.this)
    _libfc.delete_hyp_FabPortStatistics(sub.this)


def test_a_field_without_a_layout_is_a_plain_property():
    made = _libfc_fields.field(_libfc.hyp_FabPortStatistics_pktsInUnicast_get)
    probe = type("Probe", (libfc._record._Record,), {"value": made})()
    probe.this = _libfc.new_hyp_FabPortStatistics()
    assert probe.value == 0
    with pytest.raises(AttributeError):
        probe.value = 1
    copy = libfc.hyp_FabPortStatistics.pktsInUnicast.setter(_libfc.hyp_FabPortStatistics_pktsInUnicast_set)
    assert type(copy) is _libfc_fields.field and copy.fset is not None
    _libfc.delete_hyp_FabPortStatistics(probe.this)


@pytest.mark.parametrize("name,error", [("hyp_FabPortStatistics.nope", ValueError),
                                        ("hyp_FabPortStatistics", ValueError), ("nope.pktsInUnicast", ValueError),
                                        (b"hyp_FabPortStatistics.pktsInUnicast", TypeError)])
def test_describe_field_refuses_names_of_no_field(name, error):
    with pytest.raises(error):
        _libfc_fields.describe_field(len, None, name)


@pytest.mark.parametrize("record", RECORDS[::7], ids=lambda r: r.name)
def test_construction_owns_one_record_and_falls_back_for_subclasses_and_arguments(record):
    cls = getattr(libfc, record.name)
    inst = cls()  # owned, zeroed and of its type: test_records.py
    sub = subclass_of(record.name)()
    assert sub.thisown and str(sub.this).endswith(record.descriptor)
    init = cls.__init__
    assert init.__wrapped__.__qualname__ == record.name + ".__init__" == init.__qualname__

    def plain_init(self):
        pass
    plain_init.__qualname__ = init.__qualname__
    # Older interpreters name the code object in the message.
    plain_init.__code__ = plain_init.__code__.replace(co_name="__init__")
    with pytest.raises(TypeError) as got:
        cls(1)
    with pytest.raises(TypeError) as expected:
        plain_init(object(), 1)
    assert str(got.value) == str(expected.value)
    with pytest.raises(TypeError, match="^%s.__init__[(][)] got an unexpected keyword argument 'x'" % record.name):
        cls(x=1)  # keywords name fields
    # Calling __init__ again chains a second record, as the Python one does.
    first = int(inst.this)
    inst.__init__()
    assert int(inst.this) == first and inst.this.next() is not None


@pytest.mark.parametrize("replaced", ["__init__", "__new__"])
def test_construction_follows_a_class_whose_constructor_is_replaced(replaced):
    # In a child: once __new__ was set on a class, the interpreter keeps
    # calling it by name after the delete, and object.__new__ then refuses
    # arguments, which would break every later test constructing the class.
    run_python_ok("""
        import libfc
        cls, replaced = libfc.hyp_FenceHdr, %r
        cls()  # the class's calls are known to take the direct path by now
        calls = []
        original = cls.__dict__.get(replaced)

        def init(self, *args):
            calls.append(args)
            original(self)

        def new(klass, *args):
            calls.append(args)
            return object.__new__(klass)

        setattr(cls, replaced, init if replaced == "__init__" else new)
        try:
            made = cls()
            assert calls == [()]
            assert replaced == "__new__" or made.thisown
        finally:
            if original is None:
                delattr(cls, replaced)
            else:
                setattr(cls, replaced, original)
        made = cls()
        assert calls == [()] and made.thisown
        try:
            made.note = 1  # instances have no dictionary: fields only
        except AttributeError as e:
            assert "hyp_FenceHdr has no field 'note'" in str(e), e
        else:
            raise AssertionError("a field that is not there was set")
    """ % replaced)

