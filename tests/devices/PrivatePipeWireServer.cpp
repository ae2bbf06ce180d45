#include "tests/devices/PrivatePipeWireServer.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/devices/ChildProcesses.h"

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);

} // namespace

CPrivatePipeWireServer::CPrivatePipeWireServer() : CPrivateSoundServer("vpw") {}

CPrivatePipeWireServer::~CPrivatePipeWireServer() {
    StopTones();
    Stop();
    StopSession();
}

bool CPrivatePipeWireServer::StartSession(Clock::time_point deadline) {
    if (SessionRuns())
        return true;
    StopSession();
    if (!StartBus()) {
        NoteFailure("The session bus could not be started.");
        return false;
    }
    const char* pipewire[] = {"pipewire", nullptr};
    m_nPipeWire = SpawnLogging(pipewire, Path("pipewire.log"));
    if (m_nPipeWire < 0 || !AwaitPipeWire(deadline)) {
        NoteFailure("pipewire did not open its socket in time.");
        return false;
    }
    const char* wireplumber[] = {"wireplumber", nullptr};
    m_nWirePlumber = SpawnLogging(wireplumber, Path("wireplumber.log"));
    if (m_nWirePlumber < 0) {
        NoteFailure("WirePlumber could not be started.");
        return false;
    }
    return true;
}

// Reaps whichever of the two has ended (after a crash, say).
bool CPrivatePipeWireServer::SessionRuns() {
    for (pid_t* pPid : {&m_nPipeWire, &m_nWirePlumber})
        if (*pPid > 0 && WaitForExit(*pPid, 0))
            *pPid = -1;
    return m_nPipeWire > 0 && m_nWirePlumber > 0;
}

// The bus listens in the folder rather than in /tmp, where it would leave its
// socket behind.
bool CPrivatePipeWireServer::StartBus() {
    const std::string address = "--address=unix:path=" + Path("bus");
    const char* argv[] = {"dbus-daemon",   "--session",     "--fork", "--print-address=1",
                          "--print-pid=1", address.c_str(), nullptr};
    std::istringstream printed(RunForOutput(argv));
    std::string busAddress;
    if (!std::getline(printed, busAddress) || !(printed >> m_nBus) || busAddress.empty())
        return false;
    setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
    return true;
}

// WirePlumber gives up at once if pipewire does not take its connection yet.
bool CPrivatePipeWireServer::AwaitPipeWire(Clock::time_point deadline) const {
    while (!std::filesystem::exists(Path("pipewire-0"))) {
        if (Clock::now() > deadline || WaitForExit(m_nPipeWire, 0))
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

pid_t CPrivatePipeWireServer::SpawnServer() {
    const char* argv[] = {"pipewire-pulse", nullptr};
    return SpawnLogging(argv, Path("pipewire-pulse.log"));
}

// A source that pipewire-pulse has just made is not always known to it as a
// default yet: each command is tried again until it is accepted.
bool CPrivatePipeWireServer::Furnish(Clock::time_point deadline) {
    for (const std::string& command : TopologyCommands())
        while (Pactl(command) != 0) {
            if (Clock::now() > deadline) {
                NoteFailure("pipewire-pulse did not accept `pactl " + command + "` in time.");
                return false;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
    return true;
}

void CPrivatePipeWireServer::StopSession() {
    EndChild(m_nWirePlumber, SIGTERM);
    m_nWirePlumber = -1;
    EndChild(m_nPipeWire, SIGTERM);
    m_nPipeWire = -1;
    EndProcess(m_nBus, SIGTERM);
    m_nBus = -1;
}
