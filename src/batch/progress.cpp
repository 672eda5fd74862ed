#include "batch/progress.h"

#include "it3/console.h"
#include "platform/platform.h"

namespace morvex {
namespace {

std::string Clock(double seconds) {
    const auto total = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

// How often the line is redrawn at most.
constexpr std::chrono::milliseconds kRedraw{100};

}  // namespace

Progress::Progress(std::FILE* err, bool enabled, std::size_t total)
    : err_(err), enabled_(enabled), total_(total), start_(std::chrono::steady_clock::now()) {}

std::string Progress::Line(std::size_t done, std::size_t total, const std::string& current,
                           double elapsedSeconds, std::size_t columns) {
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    char head[96];
    std::snprintf(head, sizeof head, "[%zu/%zu %d%%] ", done, total, percent);
    // Appended piece by piece: g++ 12 reports a false -Wrestrict for "literal" + string.
    std::string tail = " ";
    tail += Clock(elapsedSeconds);
    tail += " elapsed";
    if (done > 0 && done < total) {
        const double left =
            elapsedSeconds / static_cast<double>(done) * static_cast<double>(total - done);
        tail += ", ";
        tail += Clock(left);
        tail += " left";
    }
    std::string line = head;
    std::string name = ConsoleName(current);
    // The model's name gives way first, from its start, so that the line never wraps.
    const std::size_t fixed = line.size() + tail.size();
    if (columns > fixed + 4) {
        const std::size_t room = columns - fixed;
        if (name.size() > room) {
            line += "...";
            line.append(name, name.size() - (room - 3), room - 3);
        } else {
            line += name;
        }
    }
    line += tail;
    if (line.size() > columns) line.resize(columns);
    return line;
}

std::size_t Progress::Columns() const {
    const std::size_t columns = platform::TerminalColumns(err_);
    return columns > 1 ? columns - 1 : 79;
}

void Progress::DrawLocked(bool force) {
    if (!enabled_ || ended_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - lastDraw_ < kRedraw) return;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const std::string line = Line(done_, total_, current_, elapsed, Columns());
    std::fputs("\r\033[K", err_);
    std::fputs(line.c_str(), err_);
    std::fflush(err_);
    shown_ = true;
}

void Progress::EraseLocked() {
    if (!shown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    shown_ = false;
}

void Progress::Started(const std::string& path) {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    current_ = path;
    DrawLocked(false);
}

void Progress::Finished() {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    ++done_;
    DrawLocked(done_ == total_);
}

void Progress::Around(const std::function<void()>& print) {
    if (!enabled_) {
        print();
        return;
    }
    std::lock_guard lock(mutex_);
    EraseLocked();
    print();
    DrawLocked(true);
}

void Progress::End() {
    if (!enabled_) return;
    std::lock_guard lock(mutex_);
    EraseLocked();
    ended_ = true;
}

}  // namespace morvex
