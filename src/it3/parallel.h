// Parallel work whose results do not depend on the number of threads.
//
// RunInOrder: pieces of output made in order, worked on in parallel and handed on in order.
// `produce(piece)` fills the next piece and returns false when there is none; it runs on one
// thread at a time, in order, so it may print and walk decoders. `work(piece)` may run on any
// thread, several pieces at once, and must touch nothing but its piece and data no one changes
// meanwhile. `consume(piece)` receives the pieces one at a time in the order produce made them.
// At most `inFlight` pieces exist at once. An exception from any of them ends the run and passes
// to the caller.
//
// The number of threads is AvailableThreads() (the driver sets it from --jobs). With one thread
// the three run in a plain loop on the calling thread, and no other thread is started.
#pragma once

#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_invoke.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace morvex {

namespace detail {
inline thread_local bool serialOnly = false;
}  // namespace detail

// While one lives, the work this thread starts runs strictly on this thread: no scheduler, no
// other thread (--jobs=1).
class SerialScope {
  public:
    SerialScope() : previous_(detail::serialOnly) { detail::serialOnly = true; }
    ~SerialScope() { detail::serialOnly = previous_; }
    SerialScope(const SerialScope&) = delete;
    SerialScope& operator=(const SerialScope&) = delete;

  private:
    bool previous_;
};

// The threads the work started here may use: 1 inside a SerialScope, else the current oneTBB
// arena's.
inline int AvailableThreads() {
    return detail::serialOnly ? 1 : tbb::this_task_arena::max_concurrency();
}

// True when work may run on more than one thread.
inline bool ParallelWorkAllowed() {
    return AvailableThreads() > 1;
}

// Runs `work` in an arena of `threads` threads and returns its result. More threads than the
// machine has are allowed (the scheduler would otherwise cap them at its size, with a warning
// on standard error).
template <class Work>
auto RunWithThreads(int threads, Work&& work) {
    std::optional<tbb::global_control> allow;
    if (threads > tbb::info::default_concurrency()) {
        allow.emplace(tbb::global_control::max_allowed_parallelism,
                      static_cast<std::size_t>(threads));
    }
    tbb::task_arena arena(threads);
    return arena.execute(std::forward<Work>(work));
}

// Pieces in flight per thread: one being made, one being worked on, one waiting to be written.
// `produce` receives a piece that may have served before: it must set every part it uses
// (FormatPiece leaves a piece's segments empty, and `used` says how much of its text counts).
inline constexpr std::size_t kPiecesPerThread = 3;

// `perThread` sets how many pieces may exist at once per thread (kPiecesPerThread unless pieces
// are large, as pictures are). A piece serves one after another, so its buffers keep their
// memory; with `keep`, the run starts with the pieces it holds and leaves all of its pieces
// there, so that runs one after another reuse them too.
template <class Piece, class Produce, class Work, class Consume>
void RunInOrder(Produce&& produce, Work&& work, Consume&& consume,
                std::size_t perThread = kPiecesPerThread,
                std::vector<std::unique_ptr<Piece>>* keep = nullptr) {
    // The pieces, owned here; the pipeline passes them by address. Kept pieces are taken out of
    // `keep` for the run: a run that this thread starts while it waits (oneTBB may run another
    // task meanwhile) then finds `keep` empty instead of sharing them.
    std::vector<std::unique_ptr<Piece>> owned;
    if (keep != nullptr) owned.swap(*keep);
    struct GiveBack {
        std::vector<std::unique_ptr<Piece>>& owned;
        std::vector<std::unique_ptr<Piece>>* keep;
        ~GiveBack() {
            if (keep != nullptr) keep->swap(owned);
        }
    } giveBack{owned, keep};
    const int threads = AvailableThreads();
    if (threads <= 1) {
        if (owned.empty()) owned.push_back(std::make_unique<Piece>());
        Piece& piece = *owned.front();
        while (produce(piece)) {
            work(piece);
            consume(piece);
        }
        return;
    }
    std::vector<Piece*> idle;
    for (auto& piece : owned) idle.push_back(piece.get());
    std::mutex idleMutex;
    auto take = [&]() -> Piece* {
        std::lock_guard<std::mutex> lock(idleMutex);
        if (idle.empty()) {
            owned.push_back(std::make_unique<Piece>());
            return owned.back().get();
        }
        Piece* piece = idle.back();
        idle.pop_back();
        return piece;
    };
    auto give = [&](Piece* piece) {
        std::lock_guard<std::mutex> lock(idleMutex);
        idle.push_back(piece);
    };
    // A run of one piece (an empty object, a small mesh) is not worth waking another thread:
    // the first two pieces are made here, and with only one the run ends on this thread.
    Piece* first = take();
    if (!produce(*first)) return;
    Piece* second = take();
    if (!produce(*second)) {
        work(*first);
        consume(*first);
        return;
    }
    Piece* ready[2] = {first, second};
    std::size_t handed = 0;
    tbb::parallel_pipeline(
        static_cast<std::size_t>(threads) * perThread,
        tbb::make_filter<void, Piece*>(tbb::filter_mode::serial_in_order,
                                       [&](tbb::flow_control& control) -> Piece* {
                                           if (handed < 2) return ready[handed++];
                                           Piece* piece = take();
                                           if (!produce(*piece)) {
                                               give(piece);
                                               control.stop();
                                               return nullptr;
                                           }
                                           return piece;
                                       }) &
            tbb::make_filter<Piece*, Piece*>(tbb::filter_mode::parallel,
                                             [&](Piece* piece) {
                                                 work(*piece);
                                                 return piece;
                                             }) &
            tbb::make_filter<Piece*, void>(tbb::filter_mode::serial_in_order, [&](Piece* piece) {
                consume(*piece);
                give(piece);
            }));
}

// Runs `a` and `b`, at the same time when the arena allows; both have run when it returns.
template <class A, class B>
void RunBoth(A&& a, B&& b) {
    if (ParallelWorkAllowed()) {
        tbb::parallel_invoke(a, b);
    } else {
        a();
        b();
    }
}

// Work handed off to run beside the caller: on another thread when the arena allows, else at
// once on the calling thread. The work must not throw. Whatever was handed off has run when
// Wait() returns, and when the object goes.
class BackgroundTasks {
  public:
    BackgroundTasks() = default;
    ~BackgroundTasks() { Wait(); }
    BackgroundTasks(const BackgroundTasks&) = delete;
    BackgroundTasks& operator=(const BackgroundTasks&) = delete;

    template <class Task>
    void Run(Task&& task) {
        if (!ParallelWorkAllowed()) {
            task();
            return;
        }
        // Made on first use: work that hands nothing off starts no scheduler. Its context is
        // isolated: made inside a parallel run (a pipeline stage), it would otherwise be bound to
        // that run's context, which ends before this object does.
        if (!group_) {
            context_ = std::make_unique<tbb::task_group_context>(tbb::task_group_context::isolated);
            group_ = std::make_unique<tbb::task_group>(*context_);
        }
        group_->run(std::forward<Task>(task));
    }
    void Wait() noexcept {
        if (!group_) return;
        try {
            group_->wait();
        } catch (...) {  // the tasks do not throw
        }
    }

  private:
    std::unique_ptr<tbb::task_group_context> context_;
    std::unique_ptr<tbb::task_group> group_;  // after context_: goes first
};

// Calls `each(k)` for k = 0 to count - 1, several at a time when the arena allows.
template <class Each>
void ForEachIndex(std::size_t count, Each&& each) {
    if (ParallelWorkAllowed() && count > 1) {
        tbb::parallel_for(std::size_t{0}, count, [&each](std::size_t k) { each(k); });
    } else {
        for (std::size_t k = 0; k < count; ++k) each(k);
    }
}

}  // namespace morvex
