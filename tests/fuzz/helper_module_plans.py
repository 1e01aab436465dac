"""Plans for the functions of _libfc_ptr and _libfc_fields.

Bytes are read through a pointer only up to the bytes behind it and written
only into a cell or a record made for the call (never into a pooled record,
whose pointer fields later calls read through). A cell is deleted at most
through its own delete function; a deleted cell is passed again on purpose,
since every conversion must refuse it.
"""

import _libfc
import _libfc_fields
import _libfc_ptr
from _records import new

# The cells: bytes behind each, and its descriptor.
CELLS = {"voidpp": (8, "_p_p_void"), "intp": (4, "_p_int"), "uint32p": (4, "_p_unsigned_int"),
         "DVPortListpp": (8, "_p_p_DVPortList"), "OpaqueDVPortDatapp": (8, "_p_p_OpaqueDVPortData")}


def new_cell(stem):
    return getattr(_libfc_ptr, "new_" + stem)()


class HelperPlans:
    def __init__(self, driver, records):
        self.d = driver
        self.records = records
        self.deleted = []  # cells already deleted, kept to be passed again

    def plans(self):
        d, out = self.d, []
        for stem in CELLS:
            new, value, delete = (getattr(_libfc_ptr, form % stem) for form in ("new_%s", "%s_value", "delete_%s"))
            out += [d.guarded(new, 0, 0.2, lambda new=new: d.call(new)),
                    d.guarded(value, 1, 0.05, lambda stem=stem, value=value: self._cell_value(stem, value)),
                    d.guarded(delete, 1, 0.05, lambda stem=stem, delete=delete: self._delete_cell(stem, delete))]
        return out + [d.guarded(_libfc_ptr.cdata, 2, 0.05, self._cdata),
                      d.guarded(_libfc_ptr.memmove, 2, 0.05, self._memmove),
                      d.guarded(_libfc_ptr.as_voidp, 1, 0.05, self._as_voidp),
                      d.guarded(_libfc_ptr.list_context, 1, 0.1, self._list_context),
                      self._callbacks, self._describe_field, self._record_initializer]

    def deleted_cell(self):
        return self.d.rng.choice(self.deleted) if self.deleted else self.d.hostile_object()

    # --- cells ---------------------------------------------------------------------------

    def _cell_value(self, stem, value):
        r = self.d.rng.random()
        size, desc = CELLS[stem]
        if r < 0.4:
            arg = new_cell(stem)
        elif r < 0.6:
            arg = self.d.typed_pointer(desc, size)
        elif r < 0.7:
            arg = self.deleted_cell()
        elif r < 0.8:
            arg = self.d.pointer(0, own_kind=desc)  # another type: refused
        else:
            arg = self.d.hostile_object()
        self.d.call(value, arg)

    def _delete_cell(self, stem, delete):
        r = self.d.rng.random()
        if r < 0.5:
            kind = self.d.rng.choice(list(CELLS))
            cell = new_cell(kind)
            self.d.call(delete, cell)  # a cell of another kind: refused, and still alive
            if kind == stem:
                self.deleted = (self.deleted + [cell])[-50:]
        elif r < 0.6:
            self.d.call(delete, self.deleted_cell())
        else:
            # Pool records, views and library results are never a cell: refused.
            self.d.call(delete, self.d.pointer(0) if r < 0.8 else self.d.hostile_object())

    # --- bytes ---------------------------------------------------------------------------

    def _cdata(self):
        rng = self.d.rng
        r = rng.random()
        if r < 0.45:
            entry = rng.choice(self.d.pool)
            return self.d.call(_libfc_ptr.cdata, entry.obj, rng.randrange(min(entry.extent, 4096) + 1))
        if r < 0.6:
            # Past the end of a record whose size the module knows: refused.
            record = rng.choice(self.records)
            return self.d.call(_libfc_ptr.cdata, new(record), record.size + rng.choice([1, 8, 2**20]))
        if r < 0.7:
            stem = rng.choice(list(CELLS))
            return self.d.call(_libfc_ptr.cdata, new_cell(stem), rng.randrange(CELLS[stem][0] + 1))
        if r < 0.8:
            return self.d.call(_libfc_ptr.cdata, self.deleted_cell(), rng.choice([0, 1, 8]))
        self.d.call(_libfc_ptr.cdata, self.d.hostile_object(), rng.choice([0, 1, 8, -1, 2**64, None]))

    def _memmove(self):
        rng = self.d.rng
        r = rng.random()
        data = rng.choice([b"", b"\xff", b"\x01\x02\x03\x04", b"z" * 8, bytearray(8), memoryview(b"abcd"),
                           "text", 5, None])
        if r < 0.4:
            stem = rng.choice(list(CELLS))
            cell = new_cell(stem)
            self.d.call(_libfc_ptr.memmove, cell, data)
        elif r < 0.7:
            record = rng.choice(self.records)
            made = new(record)
            size = rng.choice([0, 1, record.size, record.size + 1, record.size + 64])
            self.d.call(_libfc_ptr.memmove, made, bytes(rng.randrange(256) for _ in range(size)))
            # Its pointer fields now hold any bytes: delete frees only what the module made.
            self.d.call(getattr(_libfc, "delete_" + record.name), made)
        else:
            self.d.call(_libfc_ptr.memmove, self.deleted_cell() if r < 0.8 else self.d.hostile_object(), data)

    def _as_voidp(self):
        r = self.d.rng.random()
        arg = self.d.pointer(0) if r < 0.5 else self.deleted_cell() if r < 0.6 else self.d.hostile_object()
        self.d.call(_libfc_ptr.as_voidp, arg)

    def _list_context(self):
        cell = self.d.call(_libfc_ptr.list_context, [] if self.d.rng.random() < 0.6 else self.d.scalar())
        if cell is not None and self.d.rng.random() < 0.3:
            self.d.call(_libfc_ptr.delete_voidpp, cell)  # not an output cell: refused
            self.d.call(repr, cell)

    def _callbacks(self):
        fn = self.d.rng.choice([_libfc_ptr.collect_handles, _libfc_ptr.DVSData_MemAlloc,
                                _libfc_ptr.DVSData_MemFree])
        self.d.call(fn, *[self.d.scalar() for _ in range(self.d.rng.randrange(3))])

    # --- the companion's field module ------------------------------------------------------

    def _describe_field(self):
        rng = self.d.rng
        if rng.random() < 0.1:
            return self.d.call(_libfc_fields.describe_field,
                               *[self.d.scalar() for _ in range(rng.choice([0, 2, 4]))])
        name = rng.choice(["FC_FlowKey.flags", "FC_FlowKey.nope", "", "hyp_String.buffer", 5, None])
        getter = rng.choice([_libfc.FC_FlowKey_flags_get, None, len, 5])
        setter = rng.choice([_libfc.FC_FlowKey_flags_set, None, len, "x"])
        field = self.d.call(_libfc_fields.describe_field, getter, setter, name)
        if field is None:
            return
        self.d.call(getattr, field, "layout")
        self.d.call(getattr, field, "__doc__")
        self.d.call(field.__set_name__, *rng.choice([(object, "x"), (5, 6), (), (type, None)]))
        self.d.call(field.__get__, None, object)

    def _record_initializer(self):
        rng = self.d.rng
        new = rng.choice([_libfc.new_FC_FlowKey, _libfc.new_hyp_String, len, None, 5, lambda: None])
        init = rng.choice([lambda self, *a, **k: None, None, len, "x"])
        if rng.random() < 0.1:
            return self.d.call(_libfc_fields.record_initializer, *[new] * rng.choice([0, 1, 3]))
        made = self.d.call(_libfc_fields.record_initializer, new, init)
        if made is None:
            return
        self.d.call(getattr, made, "__name__")
        self.d.call(made.__set_name__, *rng.choice([(object, "x"), (5, 6), ()]))
        # Called as a plain function: no instance of its class, so the
        # general path or a refusal.
        self.d.call(made, *[self.d.scalar() for _ in range(rng.randrange(3))])

