// modDownload::DownloadFile on one address, or on many over one kept connection as a run does,
// with the block hook the updater's window uses (the activity bar blinks and pending window
// events run). Prints the seconds the routine took.
// Usage: bench_download_routine <address> <local file>
//        bench_download_routine --list <file of "address local-file" lines>
// Environment: BENCH_RATE_KIB sets max_download_rate.

#include "activityblinker.h"
#include "moddownload.h"

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    std::vector<std::pair<std::string, std::string>> downloads;
    if (std::string(argv[1]) == "--list") {
        std::ifstream list(argv[2]);
        for (std::string address, local; list >> address >> local;)
            downloads.emplace_back(address, std::filesystem::absolute(local).string());
    } else {
        downloads.emplace_back(argv[1], std::filesystem::absolute(argv[2]).string());
    }

    QWidget window;
    auto *activity = new QWidget(&window);
    activity->setGeometry(8, 48, 297, 9);
    activity->setAutoFillBackground(true);
    window.resize(312, 65);
    window.show();
    QApplication::processEvents();

    const auto start = std::chrono::steady_clock::now();
    // BENCH_HOOK=events: only the window's events; none: no hook at all (where the time goes).
    const QByteArray hook = qgetenv("BENCH_HOOK");
    ActivityBlinker blinker(window, *activity);
    modDownload::Session session;
    modDownload::Options options;
    options.userAgent = "TesmoraUpdate";
    options.session = &session;
    options.connection.maxKiBPerSecond = qgetenv("BENCH_RATE_KIB").toULongLong();
    options.onBlock = [&blinker] { blinker.onBlock(); };
    if (hook == "none")
        options.onBlock = {};
    else if (hook == "events")
        options.onBlock = [] { QCoreApplication::processEvents(); };
    for (const auto &[address, local] : downloads) {
        const ErrorInfo result = modDownload::DownloadFile(address, local, options).error;
        if (result.failed()) {
            std::fprintf(stderr, "download failed: %s: %s\n", address.c_str(), result.description.c_str());
            return 1;
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.6f\n", took.count());
    return 0;
}
