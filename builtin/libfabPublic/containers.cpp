// Data containers and data items.
//
// A container and all its items live in memory from the container's own
// allocation function and go back through its release function; the library
// keeps only the container's address in its registry.  Items are plain C
// structs, so nothing in caller memory needs a destructor.

#include "containers.hpp"

#include <cstdlib>
#include <cstring>
#include <new>

#include "caller_output.hpp"
#include "guarded.hpp"
#include "handles.hpp"
#include "store_api.h"
#include "properties.hpp"
#include "store_common.hpp"

namespace fab {
namespace {

struct ContainerItem {
    ContainerItem *next;
    char *name;
    void *value;
    uint32_t value_length;
    uint32_t prop_type;
};

struct Container {
    DVSData_MemAlloc alloc;
    DVSData_MemFree release;
    ContainerItem *first;
    ContainerItem *last;
    uint32_t count;
};

Container *container_at(DVSDataHandle handle) {
    return is_container(handle) ? static_cast<Container *>(handle) : nullptr;
}

void *allocate(Container &c, size_t size) {
    void *p = c.alloc(size ? size : 1);
    if (!p) fail(HYP_NO_MEMORY);
    return p;
}

void release_item(Container &c, ContainerItem *item) {
    c.release(item->name);
    c.release(item->value);
    c.release(item);
}

// A fresh item, complete or not at all: a failed allocation releases what was
// already taken and leaves the container as it was.
ContainerItem *new_item(Container &c, const std::string &name, const void *value, uint32_t length, uint32_t type) {
    auto *item = static_cast<ContainerItem *>(allocate(c, sizeof(ContainerItem)));
    std::memset(item, 0, sizeof *item);
    try {
        item->name = static_cast<char *>(allocate(c, name.size() + 1));
        std::memcpy(item->name, name.c_str(), name.size() + 1);
        item->value = allocate(c, length);
    } catch (...) {
        if (item->name) c.release(item->name);
        c.release(item);
        throw;
    }
    if (length) std::memcpy(item->value, value, length);
    item->value_length = length;
    item->prop_type = type;
    return item;
}

// Replaces the item of that name in place (keeping its position) or appends.
void put(Container &c, const std::string &name, const void *value, uint32_t length, uint32_t type) {
    ContainerItem *fresh = new_item(c, name, value, length, type);
    for (ContainerItem **link = &c.first; *link; link = &(*link)->next) {
        if (std::strcmp((*link)->name, name.c_str()) != 0) continue;
        ContainerItem *old = *link;
        fresh->next = old->next;
        *link = fresh;
        if (c.last == old) c.last = fresh;
        release_item(c, old);
        return;
    }
    if (c.last) c.last->next = fresh;
    else c.first = fresh;
    c.last = fresh;
    ++c.count;
}

Container *new_container(DVSData_MemAlloc alloc, DVSData_MemFree release) {
    auto *c = static_cast<Container *>(alloc(sizeof(Container)));
    if (!c) fail(HYP_NO_MEMORY);
    *c = Container{alloc, release, nullptr, nullptr, 0};
    try {
        register_container(c);
    } catch (...) {
        release(c);
        throw;
    }
    return c;
}

void free_container(Container *c) {
    unregister_container(c);
    for (ContainerItem *item = c->first; item;) {
        ContainerItem *next = item->next;
        release_item(*c, item);
        item = next;
    }
    c->release(c);
}

// The item a handle names, while its property is still in the store.
std::shared_ptr<const ItemEntry> live_item(void *handle) {
    auto entry = find_item(handle);
    if (entry && !property_exists(database(), entry->switch_id, entry->scope, entry->owner, entry->name)) {
        retire_item(entry->switch_id, entry->scope, entry->owner, entry->name);
        return nullptr;
    }
    return entry;
}

void *default_alloc(size_t size) { return std::malloc(size); }
void default_release(void *p) { std::free(p); }

}  // namespace

void *container_of(const std::vector<PropertyRecord> &properties) {
    Container *c = new_container(default_alloc, default_release);
    try {
        for (const PropertyRecord &p : properties)
            put(*c, p.name, p.value.data(), static_cast<uint32_t>(p.value.size()), p.prop_type);
    } catch (...) {
        free_container(c);
        throw;
    }
    return c;
}

}  // namespace fab

using namespace fab;

extern "C" {

// Both memory functions, or neither for the library's own malloc and free.
HYP_ReturnStatus store_DVSData_Alloc(DVSDataHandle *data, DVSData_MemAlloc memAlloc,
                                     DVSData_MemFree memFree) noexcept {
    return guarded([&] {
        if (!data || !memAlloc != !memFree) fail(HYP_BAD_PARAM);
        put_out(data, memAlloc ? new_container(memAlloc, memFree) : new_container(default_alloc, default_release));
        return HYP_OK;
    });
}

void store_DVSData_Free(DVSDataHandle data) noexcept {
    guarded([&] {
        if (Container *c = container_at(data)) free_container(c);
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSData_Update(DVSDataHandle data, char const *name, void *value, hyp_uint32 valueLen,
                                      hyp_uint32 propType) noexcept {
    return guarded([&] {
        Container *c = container_at(data);
        if (!c) return HYP_INVALID_HANDLE;
        std::string key = name_arg(name);
        if (!value && valueLen) fail(HYP_BAD_PARAM);
        put(*c, key, value, valueLen, propType);
        return HYP_OK;
    });
}

HYP_ReturnStatus store_DVSData_Serialize(DVSDataHandle data, void **buf, hyp_uint32 *bufLen,
                                         FabVersion version) noexcept {
    return guarded([&] {
        Container *c = container_at(data);
        if (!c) return HYP_INVALID_HANDLE;
        if (!buf || !bufLen) fail(HYP_BAD_PARAM);
        check_format_version(version);
        Block block;
        block.kind = BlockKind::DataContainer;
        for (ContainerItem *item = c->first; item; item = item->next) {
            auto *bytes = static_cast<const unsigned char *>(item->value);
            block.items.push_back(DataItemRecord{item->name, item->prop_type,
                                                 Bytes(bytes, bytes + item->value_length)});
        }
        Bytes out = serialise(block);
        put_out(buf, copy_block(out.data(), out.size()));
        put_out(bufLen, out.size());
        return HYP_OK;
    });
}

// An item's name and value are those read when it was last handed out; the
// caller's copy of each stays where it is until the same thread asks for it
// again.  An item whose property is gone, cleared here or by another
// process, is not found.
hyp_uint32 store_DVSData_Data(DVSDataItem item, void **value) noexcept {
    static const unsigned char empty_value = 0;
    if (value) put_out(value, nullptr);
    return guarded_value<hyp_uint32>(0, [&]() -> hyp_uint32 {
        auto entry = live_item(item);
        if (!entry) return 0;
        if (value) put_out(value, const_cast<unsigned char *>(entry->value.empty() ? &empty_value : entry->value.data()));
        hyp_uint32 size = static_cast<hyp_uint32>(entry->value.size());
        give(item, Given::ItemValue, std::move(entry));
        return size;
    });
}

char const *store_DVSData_Name(DVSDataItem item) noexcept {
    return guarded_value<char const *>(nullptr, [&]() -> char const * {
        auto entry = live_item(item);
        if (!entry) return nullptr;
        const char *name = entry->name.c_str();
        give(item, Given::ItemName, std::move(entry));
        return name;
    });
}

hyp_uint32 store_DVSData_PropType(DVSDataItem item) noexcept {
    return guarded_value<hyp_uint32>(0, [&]() -> hyp_uint32 {
        auto entry = live_item(item);
        return entry ? entry->prop_type : 0;
    });
}

hyp_Bool store_DVSData_IsSamePropType(DVSDataItem item, hyp_uint32 propType) noexcept {
    return guarded_value<hyp_Bool>(0, [&]() -> hyp_Bool {
        auto entry = live_item(item);
        return entry && prop_type_matches(entry->prop_type, propType) ? 1 : 0;
    });
}

void store_DVSHYP_DataFree(void *data) noexcept {
    guarded([&] {
        release_block(data);
        return HYP_OK;
    });
}

}  // extern "C"
