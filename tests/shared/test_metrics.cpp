#include "metricsfile.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

namespace {

TEST(MetricsFile, TheTextfileFormatWithEscapedLabelsAndOneHeaderPerName)
{
    const std::vector<Metric> metrics{
        {"tesmora_up", "Whether it is up.", "gauge", 1, {}},
        {"tesmora_server", "The server in use.", "gauge", 1, {{"url", "http://a/\"q\"\\\n"}, {"index", "0"}}},
        {"tesmora_server", "The server in use.", "gauge", 0, {{"url", "http://b/"}, {"index", "1"}}},
        {"tesmora_errors_total", "Errors.", "counter", 1234567890123, {}},
        {"tesmora_seconds", "Seconds.", "gauge", 0.25, {}},
        // A clock's fractions are cut to the millisecond.
        {"tesmora_seconds", "Seconds.", "gauge", 0.015629430999999999, {}},
        {"tesmora_seconds", "Seconds.", "gauge", 1796524800.1239, {}},
    };
    EXPECT_EQ(metricsText(metrics),
              "# HELP tesmora_up Whether it is up.\n# TYPE tesmora_up gauge\ntesmora_up 1\n"
              "# HELP tesmora_server The server in use.\n# TYPE tesmora_server gauge\n"
              "tesmora_server{index=\"0\",url=\"http://a/\\\"q\\\"\\\\\\n\"} 1\n"
              "tesmora_server{index=\"1\",url=\"http://b/\"} 0\n"
              "# HELP tesmora_errors_total Errors.\n# TYPE tesmora_errors_total counter\n"
              "tesmora_errors_total 1234567890123\n"
              "# HELP tesmora_seconds Seconds.\n# TYPE tesmora_seconds gauge\ntesmora_seconds 0.25\n"
              "tesmora_seconds 0.016\ntesmora_seconds 1796524800.124\n");

    TempFolder dir;
    ASSERT_TRUE(writeMetricsFile(dir / "tesmora.prom", metrics).ok());
    EXPECT_EQ(readFile(dir / "tesmora.prom"), metricsText(metrics));
    EXPECT_EQ(folderNames(dir.path()), std::vector<std::string>{"tesmora.prom"}) << "no temporary file stays";

    // Where the setting puts it, and a failure told once until a write succeeds again.
    std::vector<std::string> lines;
    MetricsFile file(dir.path(), [&](const std::string &line) { lines.push_back(line); });
    file.setSetting("absent/tesmora.prom");
    for (int i = 0; i < 3; ++i)
        file.write(metrics);
    const std::string failure =
        "Impossibile scrivere metrics_file '" + (dir / "absent" / "tesmora.prom").string() + "' (76) Path not found";
    EXPECT_EQ(lines, std::vector<std::string>{failure});
    std::filesystem::create_directory(dir / "absent");
    file.write(metrics);
    std::filesystem::remove_all(dir / "absent");
    file.write(metrics);
    EXPECT_EQ(lines, (std::vector<std::string>{failure, failure}));
    file.setSetting("");
    file.write(metrics);
    EXPECT_EQ(lines.size(), 2u) << "no file, nothing to fail";
}

} // namespace
