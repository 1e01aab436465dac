"""Plans for the switch state operations: calls that get past the
conversions with live library objects, mixed with hostile values.

The library hands out handles (switches, ports, data items, data
containers) and data blocks. Handles are tokens the library checks before
use, so any pointer object may stand in for one; data blocks and containers
are freed by DVSHYP_DataFree / DVSData_Free, and each is passed to its free
function exactly once, after which it is forgotten. A data pointer is always
given with a length no greater than the bytes behind it, and the output
addresses are cells of _libfc_ptr or pointers of their own type.
"""

import _libfc
import _libfc_ptr
from test_dvs_operations import CALLBACKS as CALLBACK_TYPES, LIB, OUTPUTS as OUTPUT_CELLS, SIGNED_INTS, UNSIGNED_INTS
from test_dvs_operations import TXT as TEXT

INTS = SIGNED_INTS | UNSIGNED_INTS
HANDLE_KINDS = {"DVSwitchHandle": "switches", "DVSPortHandle": "ports", "DVSDataItem": "items",
                "DVSDataHandle": "containers"}
OUTPUT_TYPES = {"void **": "_p_p_void", "int *": "_p_int", "hyp_uint32 *": "_p_unsigned_int"}
CALLBACKS = [_libfc_ptr.collect_handles, _libfc_ptr.DVSData_MemAlloc, _libfc_ptr.DVSData_MemFree]
# Where a non-null output of an operation goes: data blocks are freed once by
# DVSHYP_DataFree, containers once by DVSData_Free; items are only looked at.
ITEM_OUTPUTS = {"DVSState_HostPropLookup", "DVSState_GlobalPropLookup"}
CONTAINER_OUTPUTS = {"DVSData_Alloc", "DVSHYP_VendorGlobalPropList", "DVSHYP_VendorHostPropList",
                     "DVSHYP_ExtraConfigPropList", "DVSHYP_ExtraConfigPortPropList", "DVSHYP_VendorPortPropList"}
BORROWED_OUTPUTS = {"DVSData_Data"}  # addresses inside an item: neither freed nor kept
PROPERTY_NAMES = ["com.quorix.net.port.fc.enabled", "com.quorix.net.portset.fc.enabled",
                  "com.quorix.net.portset.fc.mcast.enabled", "com.quorix.common.host.portset", "item", ""]


class SwitchState:
    """Live library objects, refreshed from a repopulated store now and then."""

    LIMIT = 200  # blocks and containers kept before the oldest are freed

    def __init__(self, driver):
        self.d = driver
        self.switches, self.ports, self.items = [], [], []
        self.containers, self.blocks = [], []   # each freed exactly once
        self.names = ["portset-0", "portset-1", "switch0"]
        self.refresh()

    # --- the store ---------------------------------------------------------------------

    def collect(self, operation, *head):
        found = []
        self.d.call(getattr(_libfc, operation), *(head + (_libfc_ptr.collect_handles,
                                                          _libfc_ptr.list_context(found))))
        return found

    def refresh(self):
        rng = self.d.rng
        if rng.random() < 0.5:
            LIB.fabemu_populate(rng.randrange(1, 4), rng.randrange(0, 6), rng.randrange(4))
        switches = self.collect("DVSState_SwitchForEach")
        ports, items = [], []
        for switch in switches:
            ports += self.collect("DVSState_PortForEach", switch)
            items += self.collect("DVSState_HostPropForEach", switch)
            items += self.collect("DVSState_GlobalPropForEach", switch)
        for port in ports[:6]:
            items += self.collect("DVSState_PortDataForEach", port)
        texts = [self.d.call(getattr(_libfc, text_of), handle)
                 for text_of, handles in (("DVS_SwitchId", switches), ("DVS_SwitchName", switches),
                                          ("DVS_PortId", ports[:10]), ("DVSData_Name", items[:10]))
                 for handle in handles]
        # Stale handles stay: the library must refuse them.
        self.switches = (self.switches + switches)[-30:]
        self.ports = (self.ports + ports)[-60:]
        self.items = (self.items + items)[-60:]
        self.names = sorted(set(PROPERTY_NAMES) | {text for text in texts if isinstance(text, str)})

    # --- arguments ---------------------------------------------------------------------

    def text(self):
        return self.d.rng.choice(self.names) if self.d.rng.random() < 0.7 else self.d.value_for(("scalar",))

    def handle(self, kind):
        rng = self.d.rng
        r = rng.random()
        pool = getattr(self, HANDLE_KINDS.get(kind, "switches"))
        if r < 0.6 and pool:
            return rng.choice(pool)
        if r < 0.75:
            other = rng.choice([self.switches, self.ports, self.items, self.containers])
            if other:
                return rng.choice(other)
        if r < 0.85:
            return None
        return self.d.pointer(0) if r < 0.95 else self.d.hostile_object()

    def data(self):
        """(pointer, length): length never exceeds the bytes behind the pointer."""
        rng = self.d.rng
        r = rng.random()
        if r < 0.3 and self.blocks:
            block, size = rng.choice(self.blocks)
            return block, rng.randrange(size + 1)
        if r < 0.7:
            entry = rng.choice(self.d.pool)
            return entry.obj, rng.randrange(min(entry.extent, 4096) + 1)
        if r < 0.85:
            return None, rng.choice([0, 0, 1, 16, 4096])   # a null pointer with a length
        return self.d.hostile_object(), rng.choice([0, 1, -1, 2**31])

    def output(self, ctype):
        r = self.d.rng.random()
        if r < 0.75:
            return getattr(_libfc_ptr, "new_" + OUTPUT_CELLS[ctype])()
        if r < 0.85 and ctype in OUTPUT_TYPES:
            p = self.d.typed_pointer(OUTPUT_TYPES[ctype], 8 if "*" in ctype[:-1] else 4, writes=True)
            if p is not None:
                return p
        return None if r < 0.93 else self.d.hostile_object()

    def callback(self):
        rng = self.d.rng
        r = rng.random()
        if r < 0.9:
            return rng.choice(CALLBACKS) if r < 0.8 else None
        return rng.choice([lambda a, b: 1, len, 5, "collect_handles", self.d.pointer(0)])

    def context(self, store):
        r = self.d.rng.random()
        if r < 0.8:
            return _libfc_ptr.list_context(store) if r < 0.7 else None
        return self.d.pointer(0) if r < 0.9 else self.d.hostile_object()

    def once(self, pool):
        """An entry taken out of pool for its one free, or None, or a refused value."""
        rng = self.d.rng
        r = rng.random()
        if r < 0.6 and pool:
            entry = pool.pop(rng.randrange(len(pool)))
            return entry[0] if isinstance(entry, tuple) else entry
        return None if r < 0.8 else rng.choice([1.5, b"x", "text", 7, object()])

    # --- the plan of one operation ----------------------------------------------------------

    def argument(self, name, ctype, store, cells):
        rng = self.d.rng
        if name == "DVSHYP_DataFree":
            return self.once(self.blocks)
        if name == "DVSData_Free":
            return self.once(self.containers)
        if ctype == "void *":
            return self.context(store)
        if ctype in HANDLE_KINDS:
            return self.handle(ctype)
        if ctype in OUTPUT_CELLS:
            cells.append((ctype, self.output(ctype)))
            return cells[-1][1]
        if ctype in CALLBACK_TYPES:
            return self.callback()
        if ctype == TEXT:
            return self.text()
        if ctype.startswith("char ["):
            size = int(ctype[6:-1])
            return rng.choice(["", "x" * rng.randrange(size + 2), "\u00e9" * (size // 2), self.text()])
        if ctype in INTS:
            return rng.choice([0, 1, 2, 3, 0x80000001, 2**32 - 1]) if rng.random() < 0.7 else self.d.scalar()
        return self.d.value_for(("scalar",))

    def plan(self, name, fn, arg_types):
        def run():
            rng = self.d.rng
            if rng.random() < 0.03:
                return self.d.wrong_count(fn, len(arg_types))
            if rng.random() < 0.02:  # the store's own calls empty it often
                self.refresh()
            args, cells, store = [], [], []
            types = iter(zip(arg_types, arg_types[1:] + [None]))
            for ctype, following in types:
                if ctype == "void *" and following in INTS:
                    args += self.data()
                    next(types)  # the length went with its pointer
                else:
                    args.append(self.argument(name, ctype, store, cells))
            self.d.call(fn, *args)
            self.take_outputs(name, cells)
        return run

    def take_outputs(self, name, cells):
        if name in BORROWED_OUTPUTS:
            return
        # Only fresh cells: a pointer of ours may hold an old value.
        values = [(ctype, getattr(_libfc_ptr, OUTPUT_CELLS[ctype] + "_value")(cell))
                  for ctype, cell in cells if type(cell).__name__ == "cell"]
        lengths = [max(0, value) for ctype, value in values if ctype in ("int *", "hyp_uint32 *")]
        for ctype, value in values:
            if value is None or ctype in ("int *", "hyp_uint32 *"):
                continue
            if name in ITEM_OUTPUTS:
                self.items = (self.items + [value])[-60:]
            elif name in CONTAINER_OUTPUTS:
                self.containers.append(value)
            else:
                self.blocks.append((value, lengths[-1] if lengths and ctype == "void **" else 0))
        while len(self.blocks) > self.LIMIT:
            self.d.call(_libfc.DVSHYP_DataFree, self.blocks.pop(0)[0])
        while len(self.containers) > self.LIMIT:
            self.d.call(_libfc.DVSData_Free, self.containers.pop(0))

    def release_all(self):
        for block, _ in self.blocks:
            _libfc.DVSHYP_DataFree(block)
        for container in self.containers:
            _libfc.DVSData_Free(container)
        self.blocks, self.containers = [], []

