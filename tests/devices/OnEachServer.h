#pragma once

#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>

#include "tests/devices/PrivatePipeWireServer.h"
#include "tests/devices/PrivatePulseServer.h"

// The private servers the sound-server tests run on.
enum class ESoundServer { PulseAudio, PipeWire };

inline std::string ServerName(ESoundServer server) {
    return server == ESoundServer::PipeWire ? "PipeWire" : "PulseAudio";
}

// Test names and messages show the server by name.
inline void PrintTo(ESoundServer server, std::ostream* pOut) {
    *pOut << ServerName(server);
}

inline const auto kEachServer = ::testing::Values(ESoundServer::PulseAudio, ESoundServer::PipeWire);

inline std::unique_ptr<CPrivateSoundServer> MakeServer(ESoundServer server) {
    if (server == ESoundServer::PipeWire)
        return std::make_unique<CPrivatePipeWireServer>();
    return std::make_unique<CPrivatePulseServer>();
}

// Names a test by its server alone.
struct SServerName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
        return ServerName(std::get<0>(info.param));
    }
};

// Names a test of a tone (its case has dHz and nRate) by its server and tone:
// "PipeWire_440Hz_at_48000".
struct SServerToneName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
        const auto& tone = std::get<1>(info.param);
        return ServerName(std::get<0>(info.param)) + "_" +
               std::to_string(static_cast<int>(tone.dHz)) + "Hz_at_" + std::to_string(tone.nRate);
    }
};

// A fixture for tests that hold on each server. The server comes first in the
// test's parameter, the test's own case (if it has one) after it; each test
// starts a server of its own.
template <typename... Case>
class OnEachServer : public ::testing::TestWithParam<std::tuple<ESoundServer, Case...>> {
protected:
    void SetUp() override {
        m_pServer = MakeServer(ServerKind());
        ASSERT_TRUE(m_pServer->HasFolder());
        ASSERT_TRUE(m_pServer->Start()) << m_pServer->Log();
    }

    ESoundServer ServerKind() const { return std::get<0>(this->GetParam()); }
    CPrivateSoundServer& Server() const { return *m_pServer; }
    const auto& TestCase() const { return std::get<1>(this->GetParam()); }

private:
    std::unique_ptr<CPrivateSoundServer> m_pServer;
};
