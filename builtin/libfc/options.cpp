// Configuration options: one row per option with its limits and default.

#include "options.hpp"

#include "state_file.hpp"

namespace fcemu {
namespace {

struct OptionLimits {
    const char *name;
    std::uint32_t minimum, maximum, initial;
};

// Indexed by FC_ConfigOptionTypeIOC.
constexpr OptionLimits kOptionLimits[kOptions] = {
    {"FC_IOC_STATS_LEVEL", 0, FCEMU_MAX_STATS_LEVEL, 1},
    {"FC_IOC_LOG_LEVEL", 0, FCEMU_MAX_LOG_LEVEL, 0},
    {"FC_IOC_EXPR_TIME", FC_MIN_FLOW_EXPR_TIME_SEC, FC_MAX_FLOW_EXPR_TIME_SEC, FC_DEFAULT_FLOW_EXPR_TIME_SEC},
    {"FC_IOC_AGING_INTERVAL", FC_MIN_WORLD_WAITSEC, FC_MAX_WORLD_WAITSEC, FC_WORLD_WAITSEC},
    {"FC_IOC_DISABLE_THRESHOLD", FC_MIN_DISABLE_THRESHOLD_SEC, FC_MAX_DISABLE_THRESHOLD_SEC, FC_DISABLE_THRESHOLD_SEC},
};

fcemu_status check_type(int type) {
    if (type < 0 || type >= static_cast<int>(kOptions)) return fail(FCEMU_BAD_VALUE, "unknown configuration option type %d", type);
    return FCEMU_OK;
}

}  // namespace

void set_default_options(CacheState &state) {
    for (std::uint32_t i = 0; i < kOptions; ++i) state.options[i] = kOptionLimits[i].initial;
}

std::uint32_t expiry_seconds(const CacheState &state) {
    const OptionLimits &limits = kOptionLimits[FC_IOC_EXPR_TIME];
    std::uint32_t value = state.options[FC_IOC_EXPR_TIME];
    return value < limits.minimum || value > limits.maximum ? limits.initial : value;
}

}  // namespace fcemu

using namespace fcemu;

extern "C" fcemu_status fcemu_model_set_option(int type, hyp_uint32 value) {
    if (fcemu_status status = check_type(type)) return status;
    const OptionLimits &limits = kOptionLimits[type];
    if (value < limits.minimum || value > limits.maximum)
        return fail(FCEMU_BAD_VALUE, "%s value %u is outside %u..%u", limits.name, value, limits.minimum, limits.maximum);
    StateAccess access;
    if (access.status()) return access.status();
    access.state().options[type] = value;
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_get_option(int type, hyp_uint32 *value) {
    if (fcemu_status status = check_type(type)) return status;
    StateAccess access;
    if (access.status()) return access.status();
    *value = access.state().options[type];
    return FCEMU_OK;
}
