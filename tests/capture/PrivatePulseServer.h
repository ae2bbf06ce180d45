#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

// A PulseAudio server of the test's own, in a private folder under /tmp: its
// socket, runtime and state folders, and a client configuration that forbids
// autospawning. The constructor points this process's environment (and so
// every child's and every sound library's) at that folder; nothing reaches the
// machine's own sound server or session bus.
//
// The server has a null sink "vemra_sink" (the default output) whose monitor is
// remapped into "vemra_mic" (the default input), a second null sink
// "vemra_other" for a different sound, and a sink that loopbacks of both
// monitors keep busy, so that a new recorder gets data at once.
class CPrivatePulseServer {
public:
    static constexpr const char* kSink = "vemra_sink";
    static constexpr const char* kSinkDescription = "Vemra-Test-Output";
    static constexpr const char* kOtherSink = "vemra_other";
    static constexpr const char* kOtherSinkDescription = "Vemra-Other-Output";
    static constexpr const char* kMic = "vemra_mic";
    static constexpr const char* kMicDescription = "Vemra-Test-Microphone";

    CPrivatePulseServer();
    // Stops the server and the tone players and removes the folder.
    ~CPrivatePulseServer();
    CPrivatePulseServer(const CPrivatePulseServer&) = delete;
    CPrivatePulseServer& operator=(const CPrivatePulseServer&) = delete;

    bool HasFolder() const { return !m_sDir.empty(); }
    const std::string& Dir() const { return m_sDir; }
    std::string Log() const;

    // Starts the server and waits until `pactl info` answers. False (with the
    // server stopped) if it does not answer within nTimeoutMs.
    bool Start(uint32_t nTimeoutMs = 10000);
    // Sends the signal to the server and waits for it to end (SIGKILL after a
    // few seconds if it does not).
    void Stop(int nSignal = 15);
    // Freezes or thaws the server (it keeps its connections open meanwhile).
    void Pause();
    void Resume();
    bool IsRunning() const { return m_nPid > 0; }

    // Loads a module into the running server (pactl load-module); its index, or -1.
    int LoadModule(const std::string& sNameAndArguments);
    bool UnloadModule(int nIndex);

    // Plays a stereo tone (left nLeftHz, right nRightHz, half full scale, 48 kHz)
    // into a sink until the next PlayTone into it, StopTones or the end.
    bool PlayTone(const char* pszSink, double dLeftHz, double dRightHz);
    void StopTones();

private:
    static constexpr int kPlayers = 4;
    pid_t m_nPid = -1;
    pid_t m_aPlayers[kPlayers] = {-1, -1, -1, -1};
    std::string m_aPlayerSinks[kPlayers];
    std::string m_sDir;
    void WriteConfig() const;
    void StopPlayer(int nIndex);
};

// Runs a program with its output thrown away and waits for it; its exit status,
// or -1 if it could not be run.
int RunQuietly(const char* const* argv);
// Runs a program and returns what it wrote to its standard output.
std::string RunForOutput(const char* const* argv);
// Starts a program in the background with its output thrown away; its process id or -1.
pid_t SpawnQuietly(const char* const* argv);
// Waits up to nTimeoutMs for the process to end; true if it ended (and was reaped).
bool WaitForExit(pid_t nPid, uint32_t nTimeoutMs);
