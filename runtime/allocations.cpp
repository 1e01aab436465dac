// Bookkeeping of the records this module allocated.

#include "allocations.hpp"

#include <unordered_map>

namespace allocations {
namespace {

std::unordered_map<void *, const swig_type_info *> &live() {
    static auto *table = new std::unordered_map<void *, const swig_type_info *>();  // never destroyed
    return *table;
}

// Texts are kept in the same table under a descriptor no record has.
const swig_type_info text_marker{};

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

void remember_text(char *text) { remember(text, &text_marker); }

bool forget_text(char *text) { return forget(text, &text_marker); }

}  // namespace allocations
