// HYP_ReturnStatusToString: the text of every defined status code.

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "store_api.h"

namespace {

struct StatusText {
    unsigned value;
    const char *text;
};

constexpr StatusText kStatusTexts[] = {
#define HYP_STATUS(name, value, text) {value, text},
#include "hyp_status_codes.h"
#undef HYP_STATUS
};

// The list is kept in order of value, so a lookup can bisect it.
static_assert(std::is_sorted(std::begin(kStatusTexts), std::end(kStatusTexts),
                             [](const StatusText &a, const StatusText &b) { return a.value < b.value; }));

}  // namespace

extern "C" char const *store_HYP_ReturnStatusToString(HYP_ReturnStatus status) noexcept {
    unsigned value = static_cast<unsigned>(status);
    auto found = std::lower_bound(std::begin(kStatusTexts), std::end(kStatusTexts), value,
                                  [](const StatusText &entry, unsigned v) { return entry.value < v; });
    if (found != std::end(kStatusTexts) && found->value == value) return found->text;
    // The caller copies the text at once; one buffer per thread keeps
    // concurrent callers from overwriting each other's text.
    thread_local char unknown[48];
    std::snprintf(unknown, sizeof unknown, "Unknown status code 0x%08x", value);
    return unknown;
}
