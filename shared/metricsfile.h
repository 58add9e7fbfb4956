#pragma once

// Figures for Prometheus, in the text format node_exporter's textfile collector reads: a "# HELP"
// and a "# TYPE" line per metric, then "name{label="value"} number" lines, LF line ends.

#include "errorinfo.h"
#include "monthlylog.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct Metric
{
    std::string name; // letters, digits, "_" and ":"; not starting with a digit
    std::string help;
    std::string type = "gauge";
    double value = 0;
    std::map<std::string, std::string> labels;
};

// The metrics as text; label values are escaped as the format wants ("\\", "\"", "\n").
std::string metricsText(const std::vector<Metric> &metrics);

// Replaces the file at path whole (a temporary name beside it, then a rename), so that the
// collector never reads half a file. The folder must exist.
ErrorInfo writeMetricsFile(const std::filesystem::path &path, const std::vector<Metric> &metrics);

// The line both programs log when the file cannot be written.
std::string metricsFailureLine(const std::filesystem::path &path, const ErrorInfo &error);

// A program's metrics file, where its setting puts it (a relative path lies in the program folder),
// replaced whole at every write. A failure is logged when it is new, not at every write.
class MetricsFile
{
public:
    MetricsFile(std::filesystem::path programFolder, LogFunction log);

    // The setting's text; empty: no file.
    void setSetting(const std::string &setting);
    bool enabled() const { return !m_path.empty(); }
    const std::filesystem::path &path() const { return m_path; }

    void write(const std::vector<Metric> &metrics);

private:
    std::filesystem::path m_folder;
    LogFunction m_log;
    std::filesystem::path m_path;
    std::string m_lastFailure; // the failure line logged last, until a write succeeds
};
