#include "benchsupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace bench {

fs::path builtProgram(const std::string &name)
{
    return fs::path(TESMORA_BIN_DIR) / name;
}

Scratch::Scratch(const std::string &what)
{
    std::string pattern = (fs::temp_directory_path() / ("tesmora-bench-" + what + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
    // nginx's workers may run as another user.
    fs::permissions(m_path, fs::perms(0755), fs::perm_options::replace);
}

Scratch::~Scratch()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

void writeFile(const fs::path &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void writeArbitraryFile(const fs::path &path, std::uintmax_t bytes, unsigned seed)
{
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> block(1 << 16);
    for (std::uintmax_t written = 0; written < bytes;) {
        for (auto &word : block)
            word = random();
        const auto n = std::min<std::uintmax_t>(bytes - written, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char *>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string> &env)
{
    std::map<std::string, std::string> merged;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto &[k, v] : env)
        merged[k] = v;
    std::vector<std::string> list;
    for (const auto &[k, v] : merged)
        list.push_back(k + "=" + v);
    return list;
}

// Forks and executes; the child gets its own process group. stdoutFd/stderrFd -1: /dev/null.
pid_t spawn(const std::vector<std::string> &argv, const fs::path &workDir,
            const std::map<std::string, std::string> &env, int stdoutFd, int stderrFd)
{
    std::vector<std::string> envStrings = mergedEnvironment(env);
    std::vector<char *> envp;
    for (auto &s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char *> argp;
    for (auto &a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    const std::string dir = workDir.string();

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(stdoutFd >= 0 ? stdoutFd : null, 1);
        dup2(stderrFd >= 0 ? stderrFd : null, 2);
        if (!dir.empty() && chdir(dir.c_str()) != 0)
            _exit(126);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);
    return pid;
}

int exitCodeOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

bool accepts(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

std::string readAll(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

Finished run(const std::vector<std::string> &argv, const fs::path &workDir,
             const std::map<std::string, std::string> &env)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = spawn(argv, workDir, env, pipeFds[1], -1);
    close(pipeFds[1]);
    Finished result;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakRssKiB = usage.ru_maxrss;
    result.exitCode = exitCodeOf(status);
    // Whatever the program left running in its group (a started kiosk) goes too.
    ::kill(-pid, SIGKILL);
    return result;
}

Started::Started(const std::vector<std::string> &argv, const fs::path &workDir,
                 const std::map<std::string, std::string> &env, const fs::path &output)
{
    int fd = -1;
    if (!output.empty())
        fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    m_pid = spawn(argv, workDir, env, fd, fd);
    if (fd >= 0)
        close(fd);
}

Started::~Started()
{
    stop();
}

void Started::stop(int signal)
{
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, signal);
    ::kill(m_pid, signal);
    int status = 0;
    waitpid(m_pid, &status, 0);
    if (signal != SIGKILL)
        ::kill(-m_pid, SIGKILL);
    m_pid = -1;
}

namespace {

std::vector<pid_t> groupMembers(pid_t group)
{
    std::vector<pid_t> members;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = readAll(entry.path() / "stat");
        const auto close = stat.rfind(')');
        char state = 0;
        long ppid = 0, pgrp = 0;
        if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3
            && state != 'Z' && pgrp == group)
            members.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return members;
}

} // namespace

long groupPssKiB(pid_t group)
{
    long total = 0;
    for (const pid_t pid : groupMembers(group)) {
        std::istringstream rollup(readAll("/proc/" + std::to_string(pid) + "/smaps_rollup"));
        for (std::string line; std::getline(rollup, line);) {
            long kib = 0;
            if (std::sscanf(line.c_str(), "Pss: %ld kB", &kib) == 1)
                total += kib;
        }
    }
    return total;
}

int groupSize(pid_t group)
{
    return static_cast<int>(groupMembers(group).size());
}

Nginx::Nginx(const fs::path &root)
{
    m_port = freePort();
    const fs::path dir = m_scratch.path();
    fs::create_directories(dir / "temp");
    const std::string conf = "worker_processes 1;\n"
                             "daemon off;\n"
                             "pid " + (dir / "nginx.pid").string() + ";\n"
                             "error_log " + (dir / "error.log").string() + ";\n"
                             "events { worker_connections 256; }\n"
                             "http {\n"
                             "  log_format timed '$msec $request_uri $status';\n"
                             "  access_log " + (dir / "access.log").string() + " timed;\n"
                             "  client_body_temp_path " + (dir / "temp").string() + ";\n"
                             "  proxy_temp_path " + (dir / "temp").string() + ";\n"
                             "  fastcgi_temp_path " + (dir / "temp").string() + ";\n"
                             "  uwsgi_temp_path " + (dir / "temp").string() + ";\n"
                             "  scgi_temp_path " + (dir / "temp").string() + ";\n"
                             "  types { text/html html; application/javascript js; }\n"
                             "  default_type application/octet-stream;\n"
                             "  sendfile on;\n"
                             "  keepalive_requests 10000;\n"
                             "  server {\n"
                             "    listen 127.0.0.1:" + std::to_string(m_port) + ";\n"
                             "    root " + root.string() + ";\n"
                             "    location = /loaded { return 204; }\n"
                             "  }\n"
                             "}\n";
    writeFile(dir / "nginx.conf", conf);
    m_process = std::make_unique<Started>(
        std::vector<std::string>{"/usr/sbin/nginx", "-p", dir.string() + "/", "-c", (dir / "nginx.conf").string(),
                                 "-e", (dir / "error.log").string()},
        dir, std::map<std::string, std::string>{}, dir / "output.txt");
    for (int i = 0; i < 200 && !accepts(m_port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    if (!accepts(m_port))
        throw std::runtime_error("nginx did not start: " + readAll(dir / "error.log") + readAll(dir / "output.txt"));
}

Nginx::~Nginx()
{
    if (m_process)
        m_process->stop(SIGTERM);
}

std::string Nginx::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

double Nginx::loggedAt(const std::string &uri) const
{
    std::istringstream log(readAll(m_scratch / "access.log"));
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        double at = 0;
        std::string loggedUri;
        if (fields >> at >> loggedUri && loggedUri == uri)
            return at;
    }
    return -1;
}

Display::Display()
{
    if (const char *display = std::getenv("DISPLAY"); display && *display) {
        m_name = display;
        return;
    }
    // Xvfb picks a free display number and writes it to the descriptor it is given.
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    m_server = std::make_unique<Started>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp"},
        fs::path{});
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb did not start");
    m_name = ":" + number;
}

Display::~Display() = default;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double epochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void waitFor(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace bench
