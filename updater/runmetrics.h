#pragma once

#include "metricsfile.h"
#include "runoutcome.h"

#include <vector>

// The updater's metrics of a run that ended at `now`.
std::vector<Metric> runMetrics(const RunOutcome &outcome, const RunFigures &figures, TimePoint now);
