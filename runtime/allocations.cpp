// Bookkeeping of the records this module allocated.

#include "allocations.hpp"

#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>

namespace allocations {
namespace {

std::unordered_map<void *, const swig_type_info *> &live() {
    static auto *table = new std::unordered_map<void *, const swig_type_info *>();  // never destroyed
    return *table;
}

// Texts are kept in the same table under a descriptor no record has.
const swig_type_info text_marker{};

// Ordering of field addresses. Declared here, in an unnamed namespace, so
// that the map's code is this file's own and not exported from the module.
struct ByAddress {
    bool operator()(char **a, char **b) const { return a < b; }
};
using TextFields = std::map<char **, char *, ByAddress>;

// The field each copied text was last stored in, ordered by address so that
// the fields inside one record are a single range.
TextFields &text_fields() {
    static auto *table = new TextFields();  // never destroyed
    return *table;
}

}  // namespace

void remember(void *address, const swig_type_info *ty) {
    if (address) live()[address] = ty;
}

bool forget(void *address, const swig_type_info *ty) {
    auto &table = live();
    auto it = table.find(address);
    if (it == table.end() || it->second != ty) return false;
    table.erase(it);
    return true;
}

bool holds(void *address, const swig_type_info *ty) {
    auto &table = live();
    auto it = table.find(address);
    return it != table.end() && it->second == ty;
}

void remember_text(char *text, char **field) {
    remember(text, &text_marker);
    text_fields()[field] = text;
}

bool forget_text(char *text) { return forget(text, &text_marker); }


void release_texts_within(void *address, std::size_t size) {
    auto &fields = text_fields();
    if (!address || fields.empty()) return;
    char **first = static_cast<char **>(address);
    char *end = static_cast<char *>(address) + size;
    auto it = fields.lower_bound(first);
    while (it != fields.end() && reinterpret_cast<char *>(it->first) < end) {
        char *held;
        std::memcpy(&held, it->first, sizeof held);  // the field may be unaligned
        // Only a text the field still holds and that is still ours is freed:
        // the field may have been overwritten since (a key in a union, a
        // library's text poked in).
        if (held == it->second && forget_text(held)) std::free(held);
        it = fields.erase(it);
    }
}

}  // namespace allocations
