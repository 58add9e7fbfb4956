#pragma once

// Figures for Prometheus, in the text format node_exporter's textfile collector reads: a "# HELP"
// and a "# TYPE" line per metric, then "name{label="value"} number" lines, LF line ends.

#include "errorinfo.h"

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
