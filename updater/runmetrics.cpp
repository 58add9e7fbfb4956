#include "runmetrics.h"

#include <chrono>
#include <map>

const char *RunOutcome::resultName() const
{
    static const std::map<RunEnd, const char *> results{
        {RunEnd::Finished, "finished"}, {RunEnd::NothingToDo, "nothing_to_do"},
        {RunEnd::Refused, "refused"},   {RunEnd::Failed, "failed"},
        {RunEnd::GaveUp, "gave_up"},    {RunEnd::RolledBack, "rolled_back"},
        {RunEnd::Closed, "closed"}};
    return stale ? "stale" : results.at(end);
}

std::vector<Metric> runMetrics(const RunOutcome &outcome, const RunFigures &figures, TimePoint now)
{
    const auto seconds = [](TimePoint::duration d) { return std::chrono::duration<double>(d).count(); };
    return {
        {"tesmora_update_last_run_timestamp_seconds",
         "When the updater's last run ended.",
         "gauge",
         seconds(now.time_since_epoch()),
         {}},
        {"tesmora_update_last_run_success",
         "1 when the last run installed its update or had nothing to do.",
         "gauge",
         outcome.exitCode() == 0 ? 1.0 : 0.0,
         {}},
        {"tesmora_update_last_run_result", "How the last run ended.", "gauge", 1, {{"result", outcome.resultName()}}},
        {"tesmora_update_files_installed",
         "Files the last run installed and kept.",
         "gauge",
         static_cast<double>(figures.filesInstalled),
         {}},
        {"tesmora_update_downloaded_bytes",
         "Bytes the last run downloaded.",
         "gauge",
         static_cast<double>(figures.bytesDownloaded),
         {}},
        {"tesmora_update_duration_seconds", "How long the last run took.", "gauge", seconds(now - figures.started), {}},
        {"tesmora_update_info", "The updater's version.", "gauge", 1, {{"version", TESMORA_VERSION_TEXT}}},
    };
}
