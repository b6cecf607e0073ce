// The relay's counters and gauges in the Prometheus text exposition format.
#pragma once

#include "RelayCounters.h"

#include <string>

namespace Relay {

std::string PrometheusText(const RelayStats& stats, const std::string& version);

} // namespace Relay
