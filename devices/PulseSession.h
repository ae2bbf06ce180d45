#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

// A connection to the desktop's sound server (PulseAudio, or PipeWire through
// its PulseAudio interface) with its own event thread.
//
// Connecting never starts a server and gives up after a short timeout, so a
// machine without a server, or with one that does not answer, costs the caller
// at most that long. Every libpulse call made outside the event thread's own
// callbacks is made while holding CLock.
class CPulseSession {
public:
    static constexpr uint32_t kConnectTimeoutMs = 1000;
    static constexpr uint32_t kQueryTimeoutMs = 1000;

    struct SSource {
        std::string name;        // the server's name for it, stable across runs
        std::string description; // what a person reads ("Monitor of Speakers")
        std::string monitorOf;   // the sink it monitors, empty for a real input
    };
    struct SServerInfo {
        std::string serverName; // "pulseaudio", "PulseAudio (on PipeWire 1.0.5)"
        std::string defaultSource;
        std::string defaultSink;
        std::vector<SSource> sources; // in the server's order
    };

    struct SSink {
        std::string name;        // the server's name for it
        std::string description; // "Speakers", "HDMI 1"
    };

    // How connecting went.
    enum class EConnect {
        Connected,
        Refused,  // no server: nothing listens, or it closed the connection
        TimedOut, // a server that does not answer in time
    };

    explicit CPulseSession(uint32_t nTimeoutMs = kConnectTimeoutMs);
    ~CPulseSession();
    CPulseSession(const CPulseSession&) = delete;
    CPulseSession& operator=(const CPulseSession&) = delete;

    // Connected within the timeout and not lost since.
    bool IsConnected() const;
    // What connecting came to when the constructor returned.
    EConnect ConnectResult() const { return m_eConnect; }

    // Asks the server for its default devices and its sources. False when the
    // server does not answer in time (*pTimedOut then set, if given) or the
    // connection is gone.
    bool Query(SServerInfo* pInfo, uint32_t nTimeoutMs = kQueryTimeoutMs,
               bool* pTimedOut = nullptr);

    // Asks the server for its sinks, the default one first, and its default
    // sink's name. False, with the list empty, when the server does not
    // answer in time or the connection is gone.
    bool QuerySinks(std::vector<SSink>* pSinks, uint32_t nTimeoutMs = kQueryTimeoutMs);

    // The capture layer's error code for a libpulse error.
    static int CaptureError(int nPulseError);
    // Under CLock: waits at most nTimeoutMs for a stream being connected to
    // be ready. 0, kCaptureErrServerHung when the server did not answer in
    // time, or the code of the server's refusal.
    int AwaitStream(pa_stream* pStream, uint32_t nTimeoutMs) const;

    // Holds the event thread's lock while it lives.
    class CLock {
    public:
        explicit CLock(const CPulseSession& session);
        ~CLock();
        CLock(const CLock&) = delete;
        CLock& operator=(const CLock&) = delete;

    private:
        pa_threaded_mainloop* m_pLoop;
    };

    // Under CLock: waits until bDone() holds, the event thread signalling each
    // change (Signal), for at most nTimeoutMs. Returns bDone().
    bool WaitFor(const std::function<bool()>& bDone, uint32_t nTimeoutMs) const;
    // From a callback on the event thread: wakes WaitFor to look again.
    void Signal() const;

    // Under CLock: called on the event thread once an established connection
    // fails or ends (the server went away). Clear it before its target goes.
    void SetLostHandler(std::function<void()> fnLost);
    // Under CLock: has the server report every change of its sources, its
    // cards and its defaults; fnChanged is called on the event thread for
    // each, told whether a card came or went. Waits for the server to agree:
    // false, and nothing reported, when it refuses, does not answer within
    // nTimeoutMs, or the connection is gone.
    using ChangedFn = std::function<void(bool bCardCameOrWent)>;
    bool Subscribe(ChangedFn fnChanged, uint32_t nTimeoutMs = kQueryTimeoutMs);

    pa_context* Context() const { return m_pContext; }

private:
    static void ContextStateChanged(pa_context* pContext, void* pUser);
    friend struct SPulseSessionCallbacks;

    pa_threaded_mainloop* m_pLoop = nullptr;
    pa_context* m_pContext = nullptr;
    bool m_bRunning = false;
    EConnect m_eConnect = EConnect::Refused;
    // Event thread, under the lock.
    bool m_bWasReady = false;
    std::function<void()> m_fnLost;
    ChangedFn m_fnChanged;
};
