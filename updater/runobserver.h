#pragma once

#include <cstddef>
#include <string>

// What an update run tells whoever shows it (the updater's window). Each call comes from the
// run, on its thread, between two of its steps or from within a download.
class RunObserver
{
public:
    virtual ~RunObserver() = default;

    // The run is about to hold the thread for a while: what is shown must reach the screen now.
    virtual void paintNow() = 0;
    // The file being fetched, or what the run does ("Verifica avvio Tesmora...").
    virtual void showText(const std::string &text) = 0;
    // `done` of `total` listed files are downloaded (total above 0).
    virtual void showProgress(std::size_t done, std::size_t total) = 0;
    // A block of a download arrived. Pending window events may run here; a close among them is
    // to become the run's requestCancel().
    virtual void blockArrived() = 0;
    // A download ended, whole or not: the activity shown comes to rest.
    virtual void downloadEnded() = 0;
};
