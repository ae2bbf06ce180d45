#pragma once

#include "tests/devices/PrivateSoundServer.h"

// A private PipeWire session, started as a desktop starts one but as plain
// processes (no service manager), each logging into the folder: a session bus
// of its own, pipewire, WirePlumber, and pipewire-pulse, the PulseAudio
// interface the clients talk to.
//
// pipewire-pulse is the server that Stop, Pause and Resume act on. The sinks
// and the source are built through it once it answers and live in it, so they
// go with it; Start after a Stop starts pipewire-pulse alone again and builds
// them anew. The bus, pipewire and WirePlumber last until the destructor.
class CPrivatePipeWireServer : public CPrivateSoundServer {
public:
    CPrivatePipeWireServer();
    // Stops the tone players, pipewire-pulse, WirePlumber, pipewire and the bus.
    ~CPrivatePipeWireServer() override;

protected:
    bool StartSession(Clock::time_point deadline) override;
    pid_t SpawnServer() override;
    bool Furnish(Clock::time_point deadline) override;

private:
    bool SessionRuns();
    bool StartBus();
    bool AwaitPipeWire(Clock::time_point deadline) const;
    void StopSession();

    // dbus-daemon forks away: it is not our child.
    pid_t m_nBus = -1;
    pid_t m_nPipeWire = -1;
    pid_t m_nWirePlumber = -1;
};
