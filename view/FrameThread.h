#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <semaphore.h>
#include <thread>

// Draws the running frames on a thread of its own, so that the acquisition
// cycle only analyses. Each pass says that it has left new arrays in the
// channels (NewArrays), which never waits; when the window wants a frame of
// them, the thread is woken and draws one from the newest arrays.
//
// It runs from Start to Stop, which waits for a frame in progress: whoever
// owns the channels stops it before they go.
class CFrameThread {
public:
    // fnWanted is asked, with the time between the last two passes, whether a
    // frame is wanted now, on the pass's thread and again on this one; fnDraw
    // draws one (flags 2 mono, 3 stereo).
    CFrameThread(std::function<bool(std::int64_t nPassIntervalNs)> fnWanted,
                 std::function<void(int nFlags)> fnDraw);
    ~CFrameThread();
    CFrameThread(const CFrameThread&) = delete;
    CFrameThread& operator=(const CFrameThread&) = delete;

    void Start();
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

    // A pass has left new arrays (flags 2 mono, 3 stereo); any thread, never
    // waits.
    void NewArrays(int nFlags);
    // When the newest pass ended, on the steady clock in ns.
    std::int64_t PassNs() const { return m_nPassNs.load(); }

private:
    void Run();

    const std::function<bool(std::int64_t)> m_fnWanted;
    const std::function<void(int)> m_fnDraw;
    std::thread m_thread;
    sem_t m_wake; // posted by each pass and by Stop
    std::atomic<bool> m_bStop{false};
    std::atomic<std::uint32_t> m_nPasses{0};
    std::atomic<int> m_nFlags{2};
    std::atomic<std::int64_t> m_nPassNs{0};
    std::atomic<std::int64_t> m_nIntervalNs{0};
};
