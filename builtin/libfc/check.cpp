// Checking every invariant of the state: what recovery.cpp rebuilds from
// the flow records must agree with them, and the records with their limits.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flow_table.hpp"
#include "invalidation.hpp"
#include "recovery.hpp"
#include "state_file.hpp"

namespace fcemu {
namespace {

// The problems found, one line each, into the caller's buffer.
class Report {
public:
    Report(char *text, std::size_t size) : text_(text), size_(size) {
        if (size_) text_[0] = '\0';
    }

    __attribute__((format(printf, 2, 3))) void problem(const char *format, ...) {
        if (++problems_ > kDescribed) return;
        va_list args;
        va_start(args, format);
        append(format, args);
        va_end(args);
    }

    __attribute__((format(printf, 2, 3))) void note(const char *format, ...) {
        va_list args;
        va_start(args, format);
        append(format, args);
        va_end(args);
    }

    int problems() const { return problems_; }
    static constexpr int kDescribed = 50;

private:
    void append(const char *format, va_list args) {
        if (used_ + 1 >= size_) return;
        int written = std::vsnprintf(text_ + used_, size_ - used_, format, args);
        if (written < 0) return;
        used_ += static_cast<std::size_t>(written);
        if (used_ + 1 >= size_) {
            used_ = size_ - 1;
            return;
        }
        text_[used_++] = '\n';
        text_[used_] = '\0';
    }

    char *text_;
    std::size_t size_;
    std::size_t used_ = 0;
    int problems_ = 0;
};

// Marks in the walk over a table: reached by a bucket chain or by the free list.
enum : std::uint8_t { kUnseen, kChained, kFree };

void check_table(StateFile &file, std::uint32_t table, std::uint8_t *seen, Held &held, Report &report) {
    TableState &owner = table_state(file, table);
    std::uint32_t used = owner.high_water;
    if (used > entries_per_table(file)) {
        report.problem("table %u: high-water mark %u beyond its %u entries", table + 1, used, entries_per_table(file));
        used = entries_per_table(file);
    }
    std::memset(seen, kUnseen, used);
    for (std::uint32_t b = 0; b < buckets_per_table(file); ++b) {
        const Bucket &bucket = bucket_at(file, table, b);
        std::uint32_t length = 0;
        for (std::uint32_t link = bucket.head; link != kNoRecord; link = record_at(file, table, link - 1).next) {
            if (link > used) {
                report.problem("table %u bucket %u: link to record %u beyond the %u used", table + 1, b, link - 1, used);
                break;
            }
            const FlowRecord &record = record_at(file, table, link - 1);
            if (seen[link - 1] != kUnseen) {
                report.problem("table %u bucket %u: record %u reached twice (a loop or a shared tail)", table + 1, b, link - 1);
                break;
            }
            seen[link - 1] = kChained;
            ++length;
            if (!record.in_use)
                report.problem("table %u bucket %u: record %u in the chain is not in use", table + 1, b, link - 1);
            else if (place_of(file, record.key).table != table || place_of(file, record.key).bucket != b)
                report.problem("table %u bucket %u: flow %llu hashes to another bucket", table + 1, b,
                               static_cast<unsigned long long>(record.flow_id));
        }
        if (length != bucket.length)
            report.problem("table %u bucket %u: length %u, chain of %u", table + 1, b, bucket.length, length);
        if (length > kWays) report.problem("table %u bucket %u: %u flows, more than %u", table + 1, b, length, kWays);
    }
    for (std::uint32_t link = owner.free_head; link != kNoRecord; link = record_at(file, table, link - 1).next) {
        if (link > used) {
            report.problem("table %u: free list links to record %u beyond the %u used", table + 1, link - 1, used);
            break;
        }
        if (seen[link - 1] != kUnseen) {
            report.problem("table %u: free list reaches record %u twice or a chained one", table + 1, link - 1);
            break;
        }
        seen[link - 1] = kFree;
        if (record_at(file, table, link - 1).in_use)
            report.problem("table %u: record %u on the free list is in use", table + 1, link - 1);
    }
    std::uint32_t flows = 0;
    for (std::uint32_t index = 0; index < used; ++index) {
        const FlowRecord &record = record_at(file, table, index);
        if (record.in_use) {
            ++flows;
            held.add(record);
            if (seen[index] != kChained)
                report.problem("table %u: flow %llu (record %u) is missing from its bucket's chain", table + 1,
                               static_cast<unsigned long long>(record.flow_id), index);
            if (record.entities > FC_MAX_OUT_AC_IOC || record.cells > kCells)
                report.problem("table %u: flow %llu has %u entities and %u cells", table + 1,
                               static_cast<unsigned long long>(record.flow_id), record.entities, record.cells);
        } else if (seen[index] != kFree) {
            report.problem("table %u: free record %u is not on the free list", table + 1, index);
        }
    }
    if (flows != owner.flows) report.problem("table %u: counts %u flows, holds %u", table + 1, owner.flows, flows);
}

void check_entities(StateFile &file, Report &report) {
    CacheState &state = file.state;
    static std::uint64_t references[kInvalEntities];
    std::memset(references, 0, sizeof references);
    for_each_flow(file, 0, table_count(file), [&](std::uint32_t, std::uint32_t, const FlowRecord &record) {
        InvalKey keys[3];
        std::uint8_t usage[3];
        std::uint32_t count = entity_keys(record, keys, usage);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (InvalSlot *slot = find_entity(state, keys[i]))
                references[slot - state.inval] += 1;
            else
                report.problem("flow %llu refers to %s %u, which has no invalidation entity",
                               static_cast<unsigned long long>(record.flow_id),
                               keys[i].type == FC_INVAL_HASH_KEY_TYPE_VDRID ? "routing instance" : "port", keys[i].value);
        }
    });
    for (std::uint32_t i = 0; i < kInvalEntities; ++i) {
        const InvalSlot &slot = state.inval[i];
        if (!slot.in_use || slot.entity.refCount == references[i]) continue;
        report.problem("invalidation entity %s %u: refCount %llu, referred to by %llu flows",
                       slot.entity.ikey.type == FC_INVAL_HASH_KEY_TYPE_VDRID ? "routing instance" : "port",
                       slot.entity.ikey.val.portId, static_cast<unsigned long long>(slot.entity.refCount),
                       static_cast<unsigned long long>(references[i]));
    }
}

void check_counter(Report &report, const char *name, std::uint64_t allocated, std::uint64_t freed, std::uint64_t held) {
    if (allocated - freed != held || freed > allocated)
        report.problem("counters: lookup.alloc.%s %llu - lookup.free.%s %llu != %llu held by the flows", name,
                       static_cast<unsigned long long>(allocated), name, static_cast<unsigned long long>(freed),
                       static_cast<unsigned long long>(held));
}

void check_state(StateFile &file, Report &report) {
    CacheState &state = file.state;
    auto *seen = static_cast<std::uint8_t *>(std::malloc(entries_per_table(file)));
    if (!seen) {
        report.problem("no memory to check the tables");
        return;
    }
    Held held{};
    for (std::uint32_t table = 0; table < table_count(file); ++table) check_table(file, table, seen, held, report);
    std::free(seen);
    if (held.flows != state.flow_count)
        report.problem("the cache counts %u flows, its tables hold %llu", state.flow_count,
                       static_cast<unsigned long long>(held.flows));
    check_entities(file, report);
    const FC_CacheStats_lookup &lookup = state.stats.lookup;
    check_counter(report, "fe", lookup.alloc.fe, lookup.free.fe, held.flows);
    check_counter(report, "actionEntity", lookup.alloc.actionEntity, lookup.free.actionEntity, held.entities);
    check_counter(report, "vdl2EncapData", lookup.alloc.vdl2EncapData, lookup.free.vdl2EncapData, held.encaps);
    check_counter(report, "vdrData", lookup.alloc.vdrData, lookup.free.vdrData, held.routes);
    if (report.problems() > Report::kDescribed)
        report.note("... %d more problems", report.problems() - Report::kDescribed);
    if (report.problems() == 0)
        report.note("consistent: %u flows in %u tables of %u entries; %llu interrupted changes repaired so far",
                    state.flow_count, table_count(file), entries_per_table(file),
                    static_cast<unsigned long long>(state.repairs));
}

}  // namespace
}  // namespace fcemu

using namespace fcemu;

extern "C" fcemu_status fcemu_model_check(char *text, std::size_t size, int *problems) {
    StateAccess access;
    if (access.status()) return access.status();
    Report report(text, size);
    check_state(*access.file(), report);
    *problems = report.problems();
    return FCEMU_OK;
}
