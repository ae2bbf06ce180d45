#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A sound server of the test's own that speaks PulseAudio's protocol, in a
// private folder under /tmp. The constructor points this process's environment
// (and so every child's and every sound library's) at that folder: home,
// runtime, configuration and state folders, the server's socket
// $XDG_RUNTIME_DIR/pulse/native and a client configuration that forbids
// autospawning. Nothing reaches the machine's own sound server or session bus.
//
// Once started the server has a null sink "vemra_sink" (the default output)
// whose monitor is remapped into "vemra_mic" (the default input), and a second
// null sink "vemra_other" for a different sound. The tests stop, kill and
// freeze the process the clients talk to, as a desktop's server can fail.
class CPrivateSoundServer {
public:
    static constexpr const char* kSink = "vemra_sink";
    static constexpr const char* kSinkDescription = "Vemra-Test-Output";
    static constexpr const char* kOtherSink = "vemra_other";
    static constexpr const char* kOtherSinkDescription = "Vemra-Other-Output";
    static constexpr const char* kMic = "vemra_mic";
    static constexpr const char* kMicDescription = "Vemra-Test-Microphone";

    // Stops the server and the tone players and removes the folder. A derived
    // server stops whatever else it started in its own destructor.
    virtual ~CPrivateSoundServer();
    CPrivateSoundServer(const CPrivateSoundServer&) = delete;
    CPrivateSoundServer& operator=(const CPrivateSoundServer&) = delete;

    bool HasFolder() const { return !m_sDir.empty(); }
    const std::string& Dir() const { return m_sDir; }
    // Why the last Start failed, if it did, then every log in the folder.
    std::string Log() const;

    // Starts the server (and first whatever it needs that is not running yet),
    // waits until `pactl info` answers and the sinks, the source and the
    // defaults above are in place. False (with the server stopped) if that
    // takes longer than nTimeoutMs.
    bool Start(uint32_t nTimeoutMs = 10000);
    // Sends the signal to the server the clients talk to and waits for it to
    // end (SIGKILL after a few seconds if it does not). Start starts it again.
    void Stop(int nSignal = SIGTERM);
    // Freezes or thaws that server (it keeps its connections open meanwhile).
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

protected:
    using Clock = std::chrono::steady_clock;

    // Makes the folder (/tmp/<pszPrefix>.XXXXXX) and points the environment at it.
    explicit CPrivateSoundServer(const char* pszPrefix);

    std::string Path(const std::string& sName) const { return m_sDir + "/" + sName; }
    // The socket the clients connect to.
    std::string Socket() const { return Path("pulse/native"); }

    // Starts what the server needs before it, unless that is running already.
    virtual bool StartSession(Clock::time_point) { return true; }
    // Starts the server itself; its process id, or -1.
    virtual pid_t SpawnServer() = 0;
    // Once the server answers: builds what its own start did not.
    virtual bool Furnish(Clock::time_point) { return true; }

    // The sinks, the source and the defaults above, as server commands: what
    // `pactl` takes, and what a PulseAudio start-up script takes as well.
    static std::vector<std::string> TopologyCommands();
    // Runs `pactl <sCommand>`; its exit status (0 for success).
    static int Pactl(const std::string& sCommand);
    // Remembers why a start failed, for Log.
    void NoteFailure(const std::string& sWhat);

private:
    static constexpr int kPlayers = 4;
    pid_t m_nPid = -1;
    pid_t m_aPlayers[kPlayers] = {-1, -1, -1, -1};
    std::string m_aPlayerSinks[kPlayers];
    std::string m_sDir;
    std::string m_sFailure;

    void PointEnvironmentHere() const;
    bool AwaitAnswer(Clock::time_point deadline);
    bool AwaitTopology(Clock::time_point deadline);
    // What differs from the sinks, source and defaults above; empty if nothing.
    std::string TopologyProblem() const;
    void StopPlayer(int nIndex);
};
