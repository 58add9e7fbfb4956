#pragma once

// What the benchmarks add to the test support (temporary folders, started programs, nginx): a
// program run to its end with its time and peak memory, memory of a process group, an X server,
// medians.

#include "nginxserver.h"
#include "process.h"
#include "tempfolder.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

// A file of `bytes` pseudo-random bytes (not compressible, not sparse).
void writeArbitraryFile(const fs::path &path, std::uintmax_t bytes, unsigned seed);

struct Finished
{
    double seconds = 0; // wall time from start to end
    long peakRssKiB = 0; // of the process itself (not of its children)
    int exitCode = -1; // 128 + signal when ended by one
    std::string output; // standard output
};

// Runs argv[0] (looked up in PATH) with the arguments to its end, in workDir, with env entries
// added; whatever it left running in its process group is ended with it.
Finished run(const std::vector<std::string> &argv, const fs::path &workDir = {},
             const std::map<std::string, std::string> &env = {});

// Proportional set size of every live process of the group, in KiB.
long groupPssKiB(pid_t group);

// An X server of its own (Xvfb, 1280x1024) for programs that show windows, or the display
// already set.
class Display
{
public:
    Display();
    ~Display();
    std::string name() const { return m_name; }

private:
    std::string m_name;
    std::unique_ptr<ChildProcess> m_server;
};

double median(std::vector<double> values);
double epochSeconds();
void waitFor(double seconds);

} // namespace bench
