#include "view/FrameThread.h"

#include "platform/Clock.h"

#include <cerrno>
#include <utility>

CFrameThread::CFrameThread(std::function<bool(std::int64_t)> fnWanted,
                           std::function<void(int)> fnDraw)
    : m_fnWanted(std::move(fnWanted)), m_fnDraw(std::move(fnDraw)) {
    sem_init(&m_wake, 0, 0);
}

CFrameThread::~CFrameThread() {
    Stop();
    sem_destroy(&m_wake);
}

void CFrameThread::Start() {
    if (m_thread.joinable()) {
        return;
    }
    m_bStop = false;
    m_thread = std::thread([this] { Run(); });
}

void CFrameThread::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    m_bStop = true;
    sem_post(&m_wake);
    m_thread.join();
}

// The time between passes tells the pacing whether the next one still comes
// before the screen's refresh. The thread is woken only for a pass whose
// frame is wanted, so that a window that is hidden or waits for its paint
// costs no wake-up per pass. Posting a semaphore never blocks, and no news is
// lost: a post before the thread waits lets the wait through.
void CFrameThread::NewArrays(int nFlags) {
    const std::int64_t nNow = SteadyNs();
    const std::int64_t nIntervalNs = nNow - m_nPassNs.exchange(nNow);
    m_nIntervalNs = nIntervalNs;
    m_nFlags = nFlags;
    ++m_nPasses;
    if (m_fnWanted(nIntervalNs)) {
        sem_post(&m_wake);
    }
}

// Each news is looked at once, the passes that came meanwhile with it. The
// frame is drawn from the newest arrays if it is still wanted: one drawn
// since (while this thread was busy with the one before) may wait for its
// paint now.
void CFrameThread::Run() {
    std::uint32_t nSeen = 0;
    for (;;) {
        while (sem_wait(&m_wake) != 0 && errno == EINTR) {
        }
        while (sem_trywait(&m_wake) == 0) {
        }
        if (m_bStop.load()) {
            return;
        }
        const std::uint32_t nPasses = m_nPasses.load();
        if (nPasses == nSeen) {
            continue;
        }
        nSeen = nPasses;
        if (m_fnWanted(m_nIntervalNs.load())) {
            m_fnDraw(m_nFlags.load());
        }
    }
}
