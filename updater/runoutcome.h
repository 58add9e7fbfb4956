#pragma once

#include "clock.h"
#include "errorinfo.h"

#include <cstddef>
#include <cstdint>

// How an update run ended. The process's exit status is 0 for an update done or nothing to do,
// 1 for anything else.
enum class RunEnd { Finished, NothingToDo, Refused, Failed, GaveUp, RolledBack, Closed };

struct RunOutcome
{
    RunEnd end = RunEnd::Finished;
    ErrorInfo error; // Failed: what stopped the run; none when the run's own lines told already
    // No signed set newer than max_age_days has been accepted, whatever this run did.
    bool stale = false;

    int exitCode() const { return !stale && (end == RunEnd::Finished || end == RunEnd::NothingToDo) ? 0 : 1; }
    // The run's end in one word, as the metrics file and the log's closing line give it.
    const char *resultName() const;
};

// What the metrics file tells of a run besides how it ended.
struct RunFigures
{
    TimePoint started;
    std::uintmax_t bytesDownloaded = 0;
    std::size_t filesInstalled = 0; // and kept
};
