// Bookkeeping of the records this module allocated.

#include "allocations.hpp"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cstdint>

namespace allocations {
namespace {

// Open addressing with linear probing: remembering a record costs no
// allocation of its own (a node per entry is most of what new_X + delete_X
// would otherwise spend here). Deletion shifts the following entries back,
// so the table never fills with tombstones.
class LiveTable {
public:
    void put(void *address, const swig_type_info *ty) {
        if (2 * (used_ + 1) > capacity_ && !grow()) {
            overflow_put(address, ty);
            return;
        }
        std::size_t i = find_slot(address);
        if (!slots_[i].address) ++used_;
        slots_[i] = {address, ty};
    }

    // True with *ty set when address is in the table.
    bool get(void *address, const swig_type_info **ty) const {
        if (!used_) return false;
        const Slot &slot = slots_[find_slot(address)];
        if (!slot.address) return false;
        *ty = slot.ty;
        return true;
    }

    // The type stored for address, to be replaced in place; null when
    // address is not in the table.
    const swig_type_info **entry(void *address) {
        if (!used_) return nullptr;
        Slot &slot = slots_[find_slot(address)];
        return slot.address ? &slot.ty : nullptr;
    }
    // entry(), given where it was found before: the table may have grown or
    // moved entries since, so the hint is checked before it is trusted.
    const swig_type_info **entry(void *address, const swig_type_info **hint) {
        auto *slot = reinterpret_cast<Slot *>(reinterpret_cast<char *>(hint) - offsetof(Slot, ty));
        if (slot >= slots_ && slot < slots_ + capacity_ && slot->address == address) return hint;
        return entry(address);
    }

    void erase(void *address) {
        std::size_t mask = capacity_ - 1;
        std::size_t hole = find_slot(address);
        if (!slots_[hole].address) return;
        slots_[hole] = {};
        --used_;
        // Entries after the hole that would no longer be found move into it.
        for (std::size_t i = (hole + 1) & mask; slots_[i].address; i = (i + 1) & mask) {
            std::size_t home = home_of(slots_[i].address);
            bool reachable = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
            if (reachable) continue;
            slots_[hole] = slots_[i];
            slots_[i] = {};
            hole = i;
        }
    }

private:
    struct Slot {
        void *address;
        const swig_type_info *ty;
    };

    std::size_t home_of(const void *address) const {
        auto key = reinterpret_cast<std::uintptr_t>(address);
        key ^= key >> 17;
        key *= 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(key >> 20) & (capacity_ - 1);
    }

    // The slot holding address, or the empty slot where it would go.
    std::size_t find_slot(const void *address) const {
        std::size_t mask = capacity_ - 1;
        std::size_t i = home_of(address);
        while (slots_[i].address && slots_[i].address != address) i = (i + 1) & mask;
        return i;
    }

    bool grow() {
        std::size_t capacity = capacity_ ? 2 * capacity_ : 256;
        auto *fresh = static_cast<Slot *>(std::calloc(capacity, sizeof(Slot)));
        if (!fresh) return false;
        Slot *old = slots_;
        std::size_t old_capacity = capacity_;
        slots_ = fresh;
        capacity_ = capacity;
        used_ = 0;
        for (std::size_t i = 0; i < old_capacity; ++i)
            if (old[i].address) put(old[i].address, old[i].ty);
        std::free(old);
        return true;
    }

    // No memory for a larger table: the entry still has to be found again,
    // so an empty slot is taken while one is left. A table with no free
    // slot at all drops the entry (the record then leaks rather than being
    // freed by mistake).
    void overflow_put(void *address, const swig_type_info *ty) {
        if (!capacity_ || used_ + 1 >= capacity_) return;
        std::size_t i = find_slot(address);
        if (!slots_[i].address) ++used_;
        slots_[i] = {address, ty};
    }

    Slot *slots_ = nullptr;
    std::size_t capacity_ = 0;  // a power of two
    std::size_t used_ = 0;
};

// Constant-initialised and trivially destructible: no guard on each use,
// and nothing torn down at exit while records may still die.
constinit LiveTable live_table;
LiveTable &live() { return live_table; }

// Texts are kept in the same table under a descriptor no record has, and so
// are the kept blocks of freed records.
const swig_type_info text_marker{};
const swig_type_info kept_marker{};

// The field each copied text was last stored in, kept sorted by the field's
// address so that the fields inside one record are a single range. A plain
// array grown with realloc: the module is built without exceptions, and a
// failed allocation has to be an answer (no memory), not an abort.
class TextFieldTable {
public:
    bool empty() const { return count_ == 0; }

    // Records that field holds text; false when a new entry finds no memory.
    bool set(char **field, char *text) {
        std::size_t i = lower_bound(field);
        if (i < count_ && entries_[i].field == field) {
            entries_[i].text = text;
            return true;
        }
        if (count_ == capacity_ && !grow()) return false;
        std::memmove(entries_ + i + 1, entries_ + i, (count_ - i) * sizeof(Entry));
        entries_[i] = {field, text};
        ++count_;
        return true;
    }

    // Hands each entry whose field lies in [begin, end) to release(field,
    // text) and drops them all.
    template <class Release>
    void take_range(char *begin, char *end, Release release) {
        std::size_t first = lower_bound(reinterpret_cast<char **>(begin)), last = first;
        for (; last < count_ && key(entries_[last].field) < key(end); ++last)
            release(entries_[last].field, entries_[last].text);
        std::memmove(entries_ + first, entries_ + last, (count_ - last) * sizeof(Entry));
        count_ -= last - first;
    }

private:
    struct Entry {
        char **field;
        char *text;
    };

    static std::uintptr_t key(const void *p) { return reinterpret_cast<std::uintptr_t>(p); }

    std::size_t lower_bound(char **field) const {
        std::size_t low = 0, high = count_;
        while (low < high) {
            std::size_t mid = (low + high) / 2;
            if (key(entries_[mid].field) < key(field)) low = mid + 1;
            else high = mid;
        }
        return low;
    }

    bool grow() {
        std::size_t capacity = capacity_ ? 2 * capacity_ : 16;
        auto *fresh = static_cast<Entry *>(std::realloc(entries_, capacity * sizeof(Entry)));
        if (!fresh) return false;
        entries_ = fresh;
        capacity_ = capacity;
        return true;
    }

    Entry *entries_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};
constinit TextFieldTable text_fields;

// Kept blocks, one stack per record size; sizes share a list by their
// multiple of 8 modulo the number of lists, and a list serves one size at a
// time (an empty list is taken over by the next size that needs it). Kept
// blocks are plain memory to the allocator; a sanitized build keeps none, so
// that a use after free stays visible.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKeptPerSize = 0;
#else
constexpr int kKeptPerSize = 32;
#endif
constexpr std::size_t kKeptLargest = 1024;  // bytes; larger records go to the allocator
constexpr std::size_t kLists = 64;

struct KeptList {
    std::size_t size = 0;
    int count = 0;
    struct Kept {
        void *block;
        const swig_type_info **entry;  // where it was last seen in the table
    } kept[kKeptPerSize ? kKeptPerSize : 1];
};
KeptList kept_lists[kLists];

KeptList &list_for(std::size_t size) { return kept_lists[(size / 8) % kLists]; }

}  // namespace

void *take_kept(std::size_t size, const swig_type_info *ty) {
    if (!kKeptPerSize || size > kKeptLargest) return nullptr;
    KeptList &list = list_for(size);
    if (list.size != size || !list.count) return nullptr;
    const KeptList::Kept &kept = list.kept[--list.count];
    void *block = kept.block;
    if (const swig_type_info **entry = live().entry(block, kept.entry)) {
        *entry = ty;
    } else {
        live().put(block, ty);  // not expected: the block was kept under the mark
    }
    return block;
}

Retired retire(void *address, const swig_type_info *ty, std::size_t size) {
    if (!address) return kNotOurs;
    const swig_type_info **entry = live().entry(address);
    if (!entry || *entry != ty) return kNotOurs;
    if (kKeptPerSize && size && size <= kKeptLargest && text_fields.empty()) {
        KeptList &list = list_for(size);
        if (list.size != size && !list.count) list.size = size;  // an empty list serves the next size
        if (list.size == size && list.count < kKeptPerSize) {
            *entry = &kept_marker;
            list.kept[list.count++] = {address, entry};
            return kKept;
        }
    }
    live().erase(address);
    return kForgotten;
}

void remember(void *address, const swig_type_info *ty) {
    if (address) live().put(address, ty);
}

bool forget(void *address, const swig_type_info *ty) {
    auto &table = live();
    const swig_type_info *found;
    if (!address || !table.get(address, &found) || found != ty) return false;
    table.erase(address);
    return true;
}

bool holds(void *address, const swig_type_info *ty) {
    const swig_type_info *found;
    return address && live().get(address, &found) && found == ty;
}

bool remember_text(char *text, char **field) {
    if (!text_fields.set(field, text)) return false;
    remember(text, &text_marker);
    return true;
}

bool forget_text(char *text) { return forget(text, &text_marker); }


void release_texts_within(void *address, std::size_t size) {
    if (!address || text_fields.empty()) return;
    char *begin = static_cast<char *>(address);
    text_fields.take_range(begin, begin + size, [](char **field, char *text) {
        char *held;
        std::memcpy(&held, field, sizeof held);  // the field may be unaligned
        // Only a text the field still holds and that is still ours is freed:
        // the field may have been overwritten since (a key in a union, a
        // library's text poked in).
        if (held == text && forget_text(held)) std::free(held);
    });
}

}  // namespace allocations
