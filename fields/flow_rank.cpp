// The n flows of a page with the largest (or smallest) sort key, rendered as
// a page_job (beside the queries, for a copy made beside).
#include "fields/flow_rank.hpp"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "fields/answer_copy.hpp"
#include "fields/arguments.hpp"
#include "fields/page_job.hpp"
#include "fields/sort_keys.hpp"

namespace flow_rank {

namespace {

using answer_copy::FlowEntry;
using flow_rows::Entry;

using sort_keys::Ranked;
using sort_keys::SortKey;

class TopFlows final : public page_job::Job {
  public:
    TopFlows(PyObject *const *args, long long now_ms, const SortKey &key, Py_ssize_t n, bool largest)
        : decoder_(args[0]), answer_(args[1]), rest_(args[3]), now_ms_(now_ms), key_(key), n_(n),
          largest_(largest) {
        for (PyObject *held : {decoder_, answer_, rest_}) Py_INCREF(held);
    }
    ~TopFlows() override {
        for (PyObject *held : {decoder_, answer_, rest_}) Py_DECREF(held);
    }
    void run() noexcept override {
        count_ = answer_copy::each_flow(decoder_, answer_, rest_, [&](const FlowEntry &f) {
            ranked_.push_back({key_.of(f, answer_copy::age_s(f.entry, now_ms_)), LOAD(Entry, flowId, f.entry),
                               flows_.size()});
            flows_.push_back(f);
            return true;
        });
        if (count_ < 0) return;
        auto kept = ranked_.begin() + std::min<Py_ssize_t>(n_, static_cast<Py_ssize_t>(ranked_.size()));
        std::partial_sort(ranked_.begin(), kept, ranked_.end(), sort_keys::order(largest_));
        // The page's order kept: the pick of all pages is then the pick of all flows.
        std::sort(ranked_.begin(), kept, [](const Ranked &a, const Ranked &b) { return a.position < b.position; });
        for (auto at = ranked_.begin(); at != kept; ++at)
            if (!chosen_.add(flows_[at->position])) break;  // the builder then makes no copy
    }
    PyObject *finish() noexcept override {
        if (count_ < 0) return nullptr;
        PyObject *chosen = chosen_.made(false);
        return chosen ? Py_BuildValue("(n(NL))", count_, chosen, now_ms_) : nullptr;
    }

  private:
    PyObject *decoder_, *answer_, *rest_;
    long long now_ms_;
    const SortKey &key_;
    Py_ssize_t n_;
    bool largest_;
    Py_ssize_t count_ = -1;
    std::vector<Ranked> ranked_;
    std::vector<FlowEntry> flows_;
    answer_copy::Builder chosen_;
};

[[gnu::cold, gnu::noinline]] PyObject *refuse_arguments() {
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_TypeError, "top_flows(decoder, answer, now_ms, rest, key, n, largest): key is one of "
                                         "packets, age_s, expires_in_s, port, vni, id; n above 0");
    return nullptr;
}

}  // namespace

// top_flows(decoder, answer, now_ms, rest, key, n, largest): (count, (copy,
// now_ms)): of the count flows of the answer outside rest, a copy of the n
// that order first by (key, id), largest first or smallest first, in the
// answer's order; now_ms is the time their ages are counted against.
PyObject *top_flows(PyObject *, PyObject *const *args, Py_ssize_t n) noexcept {
    long long now_ms = -1;
    Py_ssize_t most = 0;
    int largest = -1;
    const SortKey *key = nullptr;
    bool converted = n == 7 && arguments::integer(args[2], now_ms) && arguments::size(args[5], most) &&
                     arguments::truth(args[6], largest) && (key = sort_keys::named(args[4]));
    if (!converted || most < 1 || !PyObject_TypeCheck(args[0], flow_rows::type()) || !walk_rest::valid(args[3]))
        return refuse_arguments();
    if (!answer_copy::rest_fits(args[1], args[3])) return nullptr;
    return page_job::render(new (std::nothrow) TopFlows(args, now_ms, *key, most, largest != 0), args[1]);
}

}  // namespace flow_rank
