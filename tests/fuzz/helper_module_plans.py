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

CELL_SIZES = {"voidpp": 8, "intp": 4, "uint32p": 4, "DVPortListpp": 8, "OpaqueDVPortDatapp": 8}
CELL_TYPES = {"voidpp": "_p_p_void", "intp": "_p_int", "uint32p": "_p_unsigned_int",
              "DVPortListpp": "_p_p_DVPortList", "OpaqueDVPortDatapp": "_p_p_OpaqueDVPortData"}


class HelperPlans:
    def __init__(self, driver, records):
        self.d = driver
        self.records = records  # (name, descriptor, size) of every record
        self.deleted = []       # cells already deleted, kept to be passed again

    def plans(self):
        out = []
        for stem in CELL_SIZES:
            out += [self._new_cell(stem), self._cell_value(stem), self._delete_cell(stem)]
        out += [self._cdata, self._memmove, self._as_voidp, self._list_context, self._callbacks,
                self._describe_field, self._record_initializer]
        return out

    # --- cells ---------------------------------------------------------------------------

    def _new_cell(self, stem):
        new = getattr(_libfc_ptr, "new_" + stem)

        def plan():
            if self.d.rng.random() < 0.2:
                return self.d.wrong_count(new, 0)
            cell = self.d.call(new)
            if cell is not None:
                self.d.call(repr, cell)
                self.d.call(getattr, cell, "this")
        return plan

    def _cell_value(self, stem):
        value = getattr(_libfc_ptr, stem + "_value")
        desc = CELL_TYPES[stem]

        def plan():
            rng = self.d.rng
            r = rng.random()
            if r < 0.05:
                return self.d.wrong_count(value, 1)
            if r < 0.4:
                arg = getattr(_libfc_ptr, "new_" + stem)()
            elif r < 0.6:
                arg = self.d.typed_pointer(desc, CELL_SIZES[stem])
            elif r < 0.7 and self.deleted:
                arg = rng.choice(self.deleted)
            elif r < 0.8:
                arg = self.d.pointer(0)  # another type: refused
                if arg is not None and self.d.descriptor_or_none(arg) == desc:
                    return
            else:
                arg = self.d.hostile_object()
            self.d.call(value, arg)
        return plan

    def _delete_cell(self, stem):
        delete = getattr(_libfc_ptr, "delete_" + stem)

        def plan():
            rng = self.d.rng
            r = rng.random()
            if r < 0.05:
                return self.d.wrong_count(delete, 1)
            if r < 0.5:
                cell = getattr(_libfc_ptr, "new_" + rng.choice(list(CELL_SIZES)))()
                self.d.call(delete, cell)
                self.d.call(getattr(_libfc_ptr, "cdata"), cell, 0)
                self.deleted = (self.deleted + [cell])[-50:]
            elif r < 0.6 and self.deleted:
                self.d.call(delete, rng.choice(self.deleted))
            elif r < 0.8:
                # Pool records, views and library results are never a cell: refused.
                self.d.call(delete, self.d.pointer(0))
            else:
                self.d.call(delete, self.d.hostile_object())
        return plan

    # --- bytes ---------------------------------------------------------------------------

    def _cdata(self):
        rng = self.d.rng
        r = rng.random()
        if r < 0.05:
            return self.d.wrong_count(_libfc_ptr.cdata, 2)
        if r < 0.5:
            entry = rng.choice(self.d.pool)
            return self.d.call(_libfc_ptr.cdata, entry.obj, rng.randrange(min(entry.extent, 4096) + 1))
        if r < 0.65:
            # Past the end of a record whose size the module knows: refused.
            name, _, size = rng.choice(self.records)
            record = getattr(_libfc, "new_" + name)()
            self.d.call(_libfc_ptr.cdata, record, size + rng.choice([1, 8, 2**20]))
            return
        if r < 0.75:
            stem = rng.choice(list(CELL_SIZES))
            cell = getattr(_libfc_ptr, "new_" + stem)()
            return self.d.call(_libfc_ptr.cdata, cell, rng.randrange(CELL_SIZES[stem] + 1))
        if r < 0.85 and self.deleted:
            return self.d.call(_libfc_ptr.cdata, rng.choice(self.deleted), rng.choice([0, 1, 8]))
        self.d.call(_libfc_ptr.cdata, self.d.hostile_object(), rng.choice([0, 1, 8, -1, 2**64, None]))

    def _memmove(self):
        rng = self.d.rng
        r = rng.random()
        data = rng.choice([b"", b"\xff", b"\x01\x02\x03\x04", b"z" * 8, bytearray(8), memoryview(b"abcd"),
                           "text", 5, None])
        if r < 0.05:
            return self.d.wrong_count(_libfc_ptr.memmove, 2)
        if r < 0.45:
            stem = rng.choice(list(CELL_SIZES))
            cell = getattr(_libfc_ptr, "new_" + stem)()
            self.d.call(_libfc_ptr.memmove, cell, data)
            if stem in ("intp", "uint32p"):
                self.d.call(getattr(_libfc_ptr, stem + "_value"), cell)
            return
        if r < 0.75:
            name, _, size = rng.choice(self.records)
            record = getattr(_libfc, "new_" + name)()
            payload = bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, size, size + 1, size + 64])))
            self.d.call(_libfc_ptr.memmove, record, payload)
            self.d.call(_libfc_ptr.cdata, record, size)
            self.d.call(getattr(_libfc, "delete_" + name), record)
            return
        if r < 0.85 and self.deleted:
            return self.d.call(_libfc_ptr.memmove, rng.choice(self.deleted), data)
        self.d.call(_libfc_ptr.memmove, self.d.hostile_object(), data)

    def _as_voidp(self):
        r = self.d.rng.random()
        arg = self.d.pointer(0) if r < 0.5 else (self.d.rng.choice(self.deleted) if r < 0.6 and self.deleted
                                                  else self.d.hostile_object())
        if r < 0.05:
            return self.d.wrong_count(_libfc_ptr.as_voidp, 1)
        view = self.d.call(_libfc_ptr.as_voidp, arg)
        if view is not None:
            self.d.call(_libfc_ptr.cdata, view, 0)

    def _list_context(self):
        r = self.d.rng.random()
        if r < 0.1:
            return self.d.wrong_count(_libfc_ptr.list_context, 1)
        arg = [] if r < 0.6 else self.d.scalar()
        cell = self.d.call(_libfc_ptr.list_context, arg)
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
