// A flow's place in the module's hash tables (a diff's earlier flows, top's
// reads met by flow, the rates of `flows --watch`): its hash table and id,
// which is never reused, mixed with a key of the process's own, so that the
// ids of a cache or of a file cannot be chosen to fall on one slot and make
// a table's probes run through all of them.
#pragma once

#include <cstdint>
#include <ctime>

#include <sys/random.h>

namespace flow_hash {

inline const std::uint64_t kKey = [] {
    std::uint64_t key = 0;
    if (getrandom(&key, sizeof key, GRND_NONBLOCK) != sizeof key)
        key = reinterpret_cast<std::uintptr_t>(&key) ^ static_cast<std::uint64_t>(std::time(nullptr));
    return key;
}();

// splitmix64's finalizer over the key, table and id: every bit of them
// reaches the low bits a table's slot is taken from.
inline std::uint64_t of(std::uint64_t table, std::uint64_t id) {
    std::uint64_t x = id ^ kKey ^ (table * 0x9e3779b97f4a7c15ULL);
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace flow_hash
