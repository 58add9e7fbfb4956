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
    };
    EXPECT_EQ(metricsText(metrics), "# HELP tesmora_up Whether it is up.\n# TYPE tesmora_up gauge\ntesmora_up 1\n"
                                    "# HELP tesmora_server The server in use.\n# TYPE tesmora_server gauge\n"
                                    "tesmora_server{index=\"0\",url=\"http://a/\\\"q\\\"\\\\\\n\"} 1\n"
                                    "tesmora_server{index=\"1\",url=\"http://b/\"} 0\n"
                                    "# HELP tesmora_errors_total Errors.\n# TYPE tesmora_errors_total counter\n"
                                    "tesmora_errors_total 1234567890123\n"
                                    "# HELP tesmora_seconds Seconds.\n# TYPE tesmora_seconds gauge\ntesmora_seconds 0.25\n");

    TempFolder dir;
    ASSERT_TRUE(writeMetricsFile(dir / "tesmora.prom", metrics).ok());
    EXPECT_EQ(readFile(dir / "tesmora.prom"), metricsText(metrics));
    EXPECT_EQ(folderNames(dir.path()), std::vector<std::string>{"tesmora.prom"}) << "no temporary file stays";
    const ErrorInfo missing = writeMetricsFile(dir / "absent" / "tesmora.prom", metrics);
    EXPECT_EQ(missing.number, 76);
    EXPECT_EQ(metricsFailureLine(dir / "absent" / "tesmora.prom", missing),
              "Impossibile scrivere metrics_file '" + (dir / "absent" / "tesmora.prom").string() + "' (76) Path not found");
}

} // namespace
