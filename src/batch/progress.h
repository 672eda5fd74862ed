// The progress line of a run of many models, for a person watching a terminal: models done of
// the total, percent, the model started last, elapsed and remaining time, on one line of
// standard error that is redrawn in place and erased at the end.
//
// Safe to call from any thread. A disabled Progress (standard error is not a terminal) prints
// nothing at all, so logs and pipes stay clean.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace morvex {

class Progress {
  public:
    Progress(std::FILE* err, bool enabled, std::size_t total);
    ~Progress() { End(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Started(const std::string& path);
    void Finished();
    // Runs `print` (which writes to another stream of the same terminal) with the line erased,
    // then redraws it.
    void Around(const std::function<void()>& print);
    // Erases the line; nothing is drawn afterwards.
    void End();

    // The text of the line, cut to `columns` characters (for tests).
    static std::string Line(std::size_t done, std::size_t total, const std::string& current,
                            double elapsedSeconds, std::size_t columns);

  private:
    void DrawLocked(bool force);
    void EraseLocked();
    std::size_t Columns() const;

    std::FILE* err_;
    bool enabled_;
    std::size_t total_;
    std::size_t done_ = 0;
    std::string current_;
    bool shown_ = false;
    bool ended_ = false;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    std::mutex mutex_;
};

}  // namespace morvex
