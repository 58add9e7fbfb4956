#include "metricsfile.h"

#include "fileops.h"

#include <cmath>
#include <cstdio>

namespace {

std::string escapedLabel(const std::string &value)
{
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string number(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    // Durations and times to the millisecond: more digits are noise from the clock's own
    // fractions (0.015629430999999999), and whole counts stay whole.
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string out = text;
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.')
        out.pop_back();
    return out == "-0" ? "0" : out;
}

} // namespace

std::string metricsText(const std::vector<Metric> &metrics)
{
    std::string text;
    std::string previous;
    for (const Metric &m : metrics) {
        // Samples of one name share their HELP and TYPE lines.
        if (m.name != previous) {
            text += "# HELP " + m.name + " " + m.help + "\n# TYPE " + m.name + " " + m.type + "\n";
            previous = m.name;
        }
        text += m.name;
        if (!m.labels.empty()) {
            text += "{";
            bool first = true;
            for (const auto &[label, value] : m.labels) {
                text += (first ? "" : ",") + label + "=\"" + escapedLabel(value) + "\"";
                first = false;
            }
            text += "}";
        }
        text += " " + number(m.value) + "\n";
    }
    return text;
}

ErrorInfo writeMetricsFile(const std::filesystem::path &path, const std::vector<Metric> &metrics)
{
    // Written often and read at once: a power cut may lose it, a reader never sees half of it.
    return replaceFileAtomically(path, metricsText(metrics), Durability::UntilCrash);
}

std::string metricsFailureLine(const std::filesystem::path &path, const ErrorInfo &error)
{
    return "Impossibile scrivere metrics_file '" + path.string() + "' " + errorText(error);
}

MetricsFile::MetricsFile(std::filesystem::path programFolder, LogFunction log)
    : m_folder(std::move(programFolder))
    , m_log(std::move(log))
{
}

void MetricsFile::setSetting(const std::string &setting)
{
    m_path = setting.empty() ? std::filesystem::path() : m_folder / setting; // an absolute path stays
}

void MetricsFile::write(const std::vector<Metric> &metrics)
{
    if (!enabled())
        return;
    const ErrorInfo error = writeMetricsFile(m_path, metrics);
    const std::string failure = error.failed() ? metricsFailureLine(m_path, error) : std::string();
    if (!failure.empty() && failure != m_lastFailure && m_log)
        m_log(failure);
    m_lastFailure = failure;
}
