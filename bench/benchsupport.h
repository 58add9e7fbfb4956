#pragma once

// What the benchmarks share: started programs with their time and peak memory, a local nginx,
// an X server, memory of a process group, medians.

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include <sys/types.h>

namespace bench {

namespace fs = std::filesystem;

fs::path builtProgram(const std::string &name);

// A folder under the system's temporary folder, readable by nginx's workers, removed at the end.
class Scratch
{
public:
    explicit Scratch(const std::string &what);
    ~Scratch();
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    const fs::path &path() const { return m_path; }
    fs::path operator/(const std::string &name) const { return m_path / name; }

private:
    fs::path m_path;
};

void writeFile(const fs::path &path, const std::string &content);
// A file of `bytes` pseudo-random bytes (not compressible, not sparse).
void writeArbitraryFile(const fs::path &path, std::uintmax_t bytes, unsigned seed);

struct Finished
{
    double seconds = 0; // wall time from start to end
    long peakRssKiB = 0; // of the process itself (not of its children)
    int exitCode = -1; // 128 + signal when ended by one
    std::string output; // standard output
};

// Runs argv[0] with the arguments to its end, in workDir, with env entries added.
Finished run(const std::vector<std::string> &argv, const fs::path &workDir = {},
             const std::map<std::string, std::string> &env = {});

// A started program in a process group of its own, ended with its group when the object goes.
class Started
{
public:
    Started(const std::vector<std::string> &argv, const fs::path &workDir,
            const std::map<std::string, std::string> &env = {}, const fs::path &output = {});
    ~Started();
    Started(const Started &) = delete;
    Started &operator=(const Started &) = delete;
    pid_t pid() const { return m_pid; }
    void stop(int signal = 9);

private:
    pid_t m_pid = -1;
};

// Proportional set size of every live process of the group, in KiB.
long groupPssKiB(pid_t group);
int groupSize(pid_t group);

// nginx on a free port of 127.0.0.1 serving one folder, with its own configuration, logs and
// temporary files in a scratch folder; the access log holds "<epoch seconds.millis> <uri> <status>".
class Nginx
{
public:
    explicit Nginx(const fs::path &root);
    ~Nginx();
    std::string baseUrl() const;
    // Epoch seconds at which the server logged the first request whose URI is uri, or -1.
    double loggedAt(const std::string &uri) const;

private:
    Scratch m_scratch{"nginx"};
    int m_port = 0;
    std::unique_ptr<Started> m_process;
};

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
    std::unique_ptr<Started> m_server;
};

double median(std::vector<double> values);
double epochSeconds();
void waitFor(double seconds);

} // namespace bench
