"""Pointer conversion and instance creation stay memory-safe whatever Python
objects they meet: classes whose methods change after the runtime built
instances of them, impostor classes named like the pointer type, and "this"
attributes computed on every read."""

import gc
import weakref

import pytest

import _libfc
import libfc

from _helpers import run_python_ok


def test_class_changed_after_the_runtime_built_an_instance():
    # The getter builds a companion instance for the nested record; the class
    # then gets a new method. The old one must not be found through a stale
    # attribute cache once it has been freed and its memory reused.
    assert run_python_ok("""
        import gc
        import libfc
        cls = libfc.hyp_SocketIPAddressAddr
        cls.m = lambda self: 1
        holder = libfc.hyp_SocketIPAddress()
        view = holder.sin_addr
        assert type(view) is cls
        assert view.m() == 1
        cls.m = lambda self: 2
        gc.collect()
        junk = [[i] * 3 for i in range(20000)]
        assert view.m() == 2, view.m()
        for _ in range(100):
            view = holder.sin_addr
            cls.m = lambda self, v=_: v
            assert view.m() == _
        print("ok")
    """).stdout == "ok\n"


@pytest.mark.parametrize("slots", [("a", "b", "c", "d"), ("a", "b", "c", "d", "e", "f")])
def test_python_class_named_like_the_pointer_type_is_not_one(slots):
    assert run_python_ok(f"""
        import _libfc
        SwigPyObject = type("SwigPyObject", (), {{"__slots__": {slots!r}}})
        fake = SwigPyObject()
        for name in {slots!r}:
            setattr(fake, name, 0x41414141)
        for call in (lambda: _libfc.hyp_String_bufferSize_get(fake),
                     lambda: _libfc.hyp_String_bufferSize_set(fake, 1),
                     lambda: _libfc.delete_hyp_String(fake)):
            try:
                call()
            except TypeError as e:
                assert "argument 1 of type 'hyp_String *'" in str(e), e
            else:
                raise AssertionError("accepted an impostor")
        print("ok")
    """).stdout == "ok\n"


class Holder:
    """Carries a pointer object; weakly referencable so its life can be watched."""

    def __init__(self, this):
        self.this = this


class ComputedThis:
    """Builds a new holder, owning a new record, on every read of "this"."""

    made = []

    @property
    def this(self):
        holder = Holder(_libfc.new_hyp_String())
        self.made.append(weakref.ref(holder))
        return holder


def test_computed_this_outlives_the_call_that_converted_it_and_is_released_eventually():
    source = ComputedThis()
    _libfc.hyp_String_bufferSize_set(source, 77)
    # The holder (and the record it owns) was alive for the whole call and
    # is still held right after it, not freed in the middle of the walk.
    assert source.made[-1]() is not None
    assert _libfc.hyp_String_bufferSize_get(source) == 0  # a new record each time
    assert source.made[-1]() is not None
    for _ in range(200):
        _libfc.hyp_String_stringLength_get(source)
    gc.collect()
    alive = sum(1 for ref in source.made if ref() is not None)
    assert alive < 100, alive  # bounded, not one kept per call


@pytest.mark.parametrize("kind", ["class", "subclass", "subclass with slots", "view"])
def test_dying_instances_release_what_they_hold(kind):
    # Record classes' instances are torn down by the companion's own
    # deallocator (and subclasses' through it): every slot, the instance
    # dictionary and weak references are let go, once.
    slots = {"__slots__": ("extra",)} if kind == "subclass with slots" else {}
    cls = type("Sub", (libfc.FC_FlowKey,), slots) if kind.startswith("subclass") else libfc.FC_FlowKey
    parent = cls()
    inst = parent.l2Key if kind == "view" else parent
    held, holder = Holder(None), Holder(None)
    watched = [weakref.ref(holder)]
    parent._holder = holder  # (a view holds its parent there)
    if kind.startswith("subclass"):  # the record classes keep no dictionary
        inst.extra = held  # the subclass's dictionary or slot
        watched.append(weakref.ref(held))
    died = []
    ref = weakref.ref(inst, lambda r: died.append(r))
    del inst, held, holder, parent
    assert ref() is None and died == [ref]
    assert [w() for w in watched] == [None] * len(watched)


def test_a_finaliser_given_to_a_record_class_later_runs_and_may_resurrect():
    saved = []
    libfc.hyp_Name.__del__ = lambda self: saved.append(self)
    try:
        name = libfc.hyp_Name()
        name.string = "kept"
        del name
        assert [n.string for n in saved] == ["kept"]  # alive again, record and all
    finally:
        del libfc.hyp_Name.__del__
    saved.clear()
    name = libfc.hyp_Name()
    ref = weakref.ref(name)
    del name
    assert ref() is None and saved == []
