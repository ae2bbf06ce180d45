#pragma once

#include "tests/devices/PrivateSoundServer.h"

// A private PulseAudio server: one process that builds the sinks and the
// source from its start-up script, and builds them again when started again.
//
// Besides them it has a sink that loopbacks of both null sinks' monitors keep
// busy, so that a new recorder gets data at once.
class CPrivatePulseServer : public CPrivateSoundServer {
public:
    CPrivatePulseServer();

protected:
    pid_t SpawnServer() override;

private:
    void WriteConfig() const;
};
