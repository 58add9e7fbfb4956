// modDownload::DownloadFile on one address, with the block hook the updater's window uses
// (the activity bar blinks and pending window events run). Prints the seconds the routine took.
// Usage: bench_download_routine <address> <local file>

#include "activityblinker.h"
#include "moddownload.h"

#include <QApplication>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <filesystem>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const std::filesystem::path local = std::filesystem::absolute(argv[2]);

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
    modDownload::Options options;
    options.userAgent = "TesmoraUpdate";
    options.onBlock = [&blinker] { blinker.onBlock(); };
    if (hook == "none")
        options.onBlock = {};
    else if (hook == "events")
        options.onBlock = [] { QCoreApplication::processEvents(); };
    const ErrorInfo result = modDownload::DownloadFile(argv[1], local.string(), options).error;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (result.failed()) {
        std::fprintf(stderr, "download failed: %s\n", result.description.c_str());
        return 1;
    }
    std::printf("%.6f\n", took.count());
    return 0;
}
