#include "devices/PulseSession.h"

#include "devices/CaptureFormat.h"

#include <algorithm>

#include <pulse/context.h>
#include <pulse/def.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop-api.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

struct SPulseSessionCallbacks {
    static void Changed(pa_context*, pa_subscription_event_type_t eEvent, uint32_t, void* pUser) {
        auto* pSession = static_cast<CPulseSession*>(pUser);
        const int facility = eEvent & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const int type = eEvent & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (pSession->m_fnChanged)
            pSession->m_fnChanged(facility == PA_SUBSCRIPTION_EVENT_CARD &&
                                  type != PA_SUBSCRIPTION_EVENT_CHANGE);
    }
};

namespace {

constexpr const char* kClientName = "Vemra-2";

bool IsFinal(pa_context_state_t state) {
    return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
}

// What one Query gathers on the event thread.
struct SQuery {
    const CPulseSession* pSession;
    CPulseSession::SServerInfo* pInfo;
    bool bServerDone = false;
    bool bSourcesDone = false;
    bool bFailed = false;
};

void OnServerInfo(pa_context*, const pa_server_info* pServer, void* pUser) {
    auto* q = static_cast<SQuery*>(pUser);
    if (pServer) {
        q->pInfo->serverName = pServer->server_name ? pServer->server_name : "";
        q->pInfo->defaultSource = pServer->default_source_name ? pServer->default_source_name : "";
        q->pInfo->defaultSink = pServer->default_sink_name ? pServer->default_sink_name : "";
    } else {
        q->bFailed = true;
    }
    q->bServerDone = true;
    q->pSession->Signal();
}

void OnSourceInfo(pa_context*, const pa_source_info* pSource, int nEol, void* pUser) {
    auto* q = static_cast<SQuery*>(pUser);
    if (nEol != 0) {
        q->bFailed = q->bFailed || nEol < 0;
        q->bSourcesDone = true;
        q->pSession->Signal();
        return;
    }
    if (!pSource || !pSource->name)
        return;
    CPulseSession::SSource source;
    source.name = pSource->name;
    source.description = pSource->description ? pSource->description : pSource->name;
    if (pSource->monitor_of_sink != PA_INVALID_INDEX)
        source.monitorOf = pSource->monitor_of_sink_name ? pSource->monitor_of_sink_name : "?";
    q->pInfo->sources.push_back(std::move(source));
}

// What one QuerySinks gathers on the event thread.
struct SSinkQuery {
    const CPulseSession* pSession;
    std::vector<CPulseSession::SSink>* pSinks;
    std::string defaultSink;
    bool bServerDone = false;
    bool bSinksDone = false;
    bool bFailed = false;
};

void OnSinkServerInfo(pa_context*, const pa_server_info* pServer, void* pUser) {
    auto* q = static_cast<SSinkQuery*>(pUser);
    if (pServer && pServer->default_sink_name)
        q->defaultSink = pServer->default_sink_name;
    q->bFailed = q->bFailed || !pServer;
    q->bServerDone = true;
    q->pSession->Signal();
}

void OnSinkInfo(pa_context*, const pa_sink_info* pSink, int nEol, void* pUser) {
    auto* q = static_cast<SSinkQuery*>(pUser);
    if (nEol != 0) {
        q->bFailed = q->bFailed || nEol < 0;
        q->bSinksDone = true;
        q->pSession->Signal();
        return;
    }
    if (pSink && pSink->name)
        q->pSinks->push_back({pSink->name, pSink->description ? pSink->description : pSink->name});
}

// An operation that did not finish in time is cancelled, so that its callback
// can no longer reach the caller's stack.
void Finish(pa_operation* pOperation) {
    if (!pOperation)
        return;
    if (pa_operation_get_state(pOperation) == PA_OPERATION_RUNNING)
        pa_operation_cancel(pOperation);
    pa_operation_unref(pOperation);
}

} // namespace

CPulseSession::CPulseSession(uint32_t nTimeoutMs) {
    m_pLoop = pa_threaded_mainloop_new();
    if (!m_pLoop)
        return;
    m_pContext = pa_context_new(pa_threaded_mainloop_get_api(m_pLoop), kClientName);
    if (!m_pContext)
        return;
    pa_context_set_state_callback(m_pContext, &CPulseSession::ContextStateChanged, this);
    // Never start a server just to find out whether there is one.
    if (pa_context_connect(m_pContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return;
    if (pa_threaded_mainloop_start(m_pLoop) < 0)
        return;
    m_bRunning = true;
    CLock lock(*this);
    WaitFor([this] { return IsFinal(pa_context_get_state(m_pContext)); }, nTimeoutMs);
    const pa_context_state_t state = pa_context_get_state(m_pContext);
    if (state == PA_CONTEXT_READY)
        m_eConnect = EConnect::Connected;
    else if (PA_CONTEXT_IS_GOOD(state))
        m_eConnect = EConnect::TimedOut;
}

CPulseSession::~CPulseSession() {
    if (m_bRunning) {
        {
            CLock lock(*this);
            m_fnLost = nullptr;
            m_fnChanged = nullptr;
            pa_context_set_state_callback(m_pContext, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_pContext, nullptr, nullptr);
            pa_context_disconnect(m_pContext);
        }
        pa_threaded_mainloop_stop(m_pLoop);
    } else if (m_pContext) {
        pa_context_set_state_callback(m_pContext, nullptr, nullptr);
        pa_context_disconnect(m_pContext);
    }
    if (m_pContext)
        pa_context_unref(m_pContext);
    if (m_pLoop)
        pa_threaded_mainloop_free(m_pLoop);
}

bool CPulseSession::IsConnected() const {
    if (!m_bRunning)
        return false;
    CLock lock(*this);
    return pa_context_get_state(m_pContext) == PA_CONTEXT_READY;
}

bool CPulseSession::Query(SServerInfo* pInfo, uint32_t nTimeoutMs, bool* pTimedOut) {
    *pInfo = SServerInfo{};
    if (pTimedOut)
        *pTimedOut = false;
    if (!m_bRunning)
        return false;
    CLock lock(*this);
    if (pa_context_get_state(m_pContext) != PA_CONTEXT_READY)
        return false;
    SQuery query{this, pInfo};
    pa_operation* pServer = pa_context_get_server_info(m_pContext, &OnServerInfo, &query);
    pa_operation* pSources = pa_context_get_source_info_list(m_pContext, &OnSourceInfo, &query);
    const auto bDone = [&] {
        return (query.bServerDone && query.bSourcesDone) ||
               pa_context_get_state(m_pContext) != PA_CONTEXT_READY;
    };
    const bool bFinished = WaitFor(bDone, nTimeoutMs);
    if (pTimedOut)
        *pTimedOut = !bFinished;
    const bool bAnswered = pServer && pSources && bFinished && query.bServerDone &&
                           query.bSourcesDone && !query.bFailed;
    Finish(pServer);
    Finish(pSources);
    if (!bAnswered)
        *pInfo = SServerInfo{};
    return bAnswered;
}

bool CPulseSession::QuerySinks(std::vector<SSink>* pSinks, uint32_t nTimeoutMs) {
    pSinks->clear();
    if (!m_bRunning)
        return false;
    CLock lock(*this);
    if (pa_context_get_state(m_pContext) != PA_CONTEXT_READY)
        return false;
    SSinkQuery query{this, pSinks, {}};
    pa_operation* pServer = pa_context_get_server_info(m_pContext, &OnSinkServerInfo, &query);
    pa_operation* pList = pa_context_get_sink_info_list(m_pContext, &OnSinkInfo, &query);
    const bool bFinished = WaitFor(
        [&] {
            return (query.bServerDone && query.bSinksDone) ||
                   pa_context_get_state(m_pContext) != PA_CONTEXT_READY;
        },
        nTimeoutMs);
    const bool bAnswered =
        pServer && pList && bFinished && query.bServerDone && query.bSinksDone && !query.bFailed;
    Finish(pServer);
    Finish(pList);
    if (!bAnswered) {
        pSinks->clear();
        return false;
    }
    std::stable_partition(pSinks->begin(), pSinks->end(),
                          [&](const SSink& sink) { return sink.name == query.defaultSink; });
    return true;
}

int CPulseSession::CaptureError(int nPulseError) {
    switch (nPulseError) {
    case PA_ERR_NOENTITY:
        return kCaptureErrNoDevice;
    case PA_ERR_INVALID:
    case PA_ERR_NOTSUPPORTED:
        return kCaptureErrBadFormat;
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_CONNECTIONREFUSED:
        return kCaptureErrNoServer;
    case PA_ERR_TIMEOUT:
        return kCaptureErrServerHung;
    case PA_ERR_KILLED:
        return kCaptureErrDeviceLost;
    case PA_ERR_BUSY:
        return kCaptureErrBusy;
    default:
        return kCaptureErrGeneric;
    }
}

int CPulseSession::AwaitStream(pa_stream* pStream, uint32_t nTimeoutMs) const {
    WaitFor([pStream] { return pa_stream_get_state(pStream) != PA_STREAM_CREATING; }, nTimeoutMs);
    switch (pa_stream_get_state(pStream)) {
    case PA_STREAM_READY:
        return kCaptureOk;
    case PA_STREAM_CREATING:
        return kCaptureErrServerHung;
    default:
        return CaptureError(pa_context_errno(m_pContext));
    }
}

CPulseSession::CLock::CLock(const CPulseSession& session) : m_pLoop(session.m_pLoop) {
    pa_threaded_mainloop_lock(m_pLoop);
}

CPulseSession::CLock::~CLock() {
    pa_threaded_mainloop_unlock(m_pLoop);
}

namespace {

struct SDeadline {
    pa_threaded_mainloop* pLoop;
    bool bPassed = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* pUser) {
    auto* pDeadline = static_cast<SDeadline*>(pUser);
    pDeadline->bPassed = true;
    pa_threaded_mainloop_signal(pDeadline->pLoop, 0);
}

} // namespace

bool CPulseSession::WaitFor(const std::function<bool()>& bDone, uint32_t nTimeoutMs) const {
    if (bDone())
        return true;
    SDeadline deadline{m_pLoop};
    pa_time_event* pTimer = pa_context_rttime_new(
        m_pContext, pa_rtclock_now() + uint64_t{nTimeoutMs} * 1000, &OnDeadline, &deadline);
    if (!pTimer)
        return bDone();
    while (!bDone() && !deadline.bPassed)
        pa_threaded_mainloop_wait(m_pLoop);
    pa_mainloop_api* pApi = pa_threaded_mainloop_get_api(m_pLoop);
    pApi->time_free(pTimer);
    return bDone();
}

void CPulseSession::Signal() const {
    pa_threaded_mainloop_signal(m_pLoop, 0);
}

void CPulseSession::SetLostHandler(std::function<void()> fnLost) {
    m_fnLost = std::move(fnLost);
}

namespace {

// The server's answer to a subscription, on the event thread.
struct SSubscription {
    const CPulseSession* pSession;
    bool bAnswered = false;
    bool bAgreed = false;
};

void OnSubscribed(pa_context*, int nSuccess, void* pUser) {
    auto* pAnswer = static_cast<SSubscription*>(pUser);
    pAnswer->bAgreed = nSuccess != 0;
    pAnswer->bAnswered = true;
    pAnswer->pSession->Signal();
}

} // namespace

// A request that is only sent proves nothing: a server that refuses it, or
// never answers, would leave its caller waiting for changes that never come.
bool CPulseSession::Subscribe(ChangedFn fnChanged, uint32_t nTimeoutMs) {
    m_fnChanged = std::move(fnChanged);
    pa_context_set_subscribe_callback(m_pContext, &SPulseSessionCallbacks::Changed, this);
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_CARD | PA_SUBSCRIPTION_MASK_SERVER);
    SSubscription answer{this};
    pa_operation* pOperation = pa_context_subscribe(m_pContext, mask, &OnSubscribed, &answer);
    if (pOperation)
        WaitFor(
            [&] {
                return answer.bAnswered || pa_context_get_state(m_pContext) != PA_CONTEXT_READY;
            },
            nTimeoutMs);
    Finish(pOperation);
    if (answer.bAgreed)
        return true;
    pa_context_set_subscribe_callback(m_pContext, nullptr, nullptr);
    m_fnChanged = nullptr;
    return false;
}

void CPulseSession::ContextStateChanged(pa_context* pContext, void* pUser) {
    auto* pSession = static_cast<CPulseSession*>(pUser);
    const pa_context_state_t state = pa_context_get_state(pContext);
    if (state == PA_CONTEXT_READY)
        pSession->m_bWasReady = true;
    else if (!PA_CONTEXT_IS_GOOD(state) && pSession->m_bWasReady && pSession->m_fnLost)
        pSession->m_fnLost();
    pSession->Signal();
}
