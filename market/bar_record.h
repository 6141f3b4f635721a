// The host's bar record, exactly as the expert advisor lays it out in memory.
#pragma once

#include <cstdint>

namespace torvik {

#pragma pack(push, 1)
// Low comes before high: that is the host's order, not open-high-low-close.
struct BarRecord {
    uint32_t time;
    double open;
    double low;
    double high;
    double close;
    double volume;
};
#pragma pack(pop)

static_assert(sizeof(BarRecord) == 44, "the host passes packed 44-byte bars");

}  // namespace torvik
