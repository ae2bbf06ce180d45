// Levels in real units, from the samples a channel transforms to the number a
// user reads: dBFS at a bin whatever the run's settings, the weighting and the
// microphone's correction per bin, and the level meter's pass.

#include "analysis/LevelScale.h"
#include "analysis/AnalysisChannel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr double kFullScale = 32768.0;

// A channel at nRate with one block of a sine of amplitude dAmplitude at bin
// nBin, over the window's length, transformed once (inertia 1).
struct SToneRun {
    CAnalysisChannel chan;
    int nRate;
    int nSize;

    SToneRun(int nRateHz, int nFftSize, int nWindow, int nLength, bool bPink)
        : nRate(nRateHz), nSize(nFftSize) {
        chan.m_nWindowType = nWindow;
        chan.m_bPinkToFlat = bPink;
        EXPECT_TRUE(chan.Setup(nSize, double(nSize) / nRate));
        chan.SetWindow(nWindow, nLength);
    }
    void Play(double dAmplitude, double dBin, int nLength) {
        for (int i = 0; i < nSize; ++i) {
            const double d = dAmplitude * std::sin(2 * std::numbers::pi * dBin * i / nSize);
            chan.GetSamples()[i] = i < nLength ? static_cast<int32_t>(std::lround(d)) : 0;
        }
        chan.Transform();
    }
    double LevelDb(const SLevelSettings& settings, int nBin) {
        CLevelScale levels;
        levels.Update(settings, nRate, nSize);
        const auto lock = chan.LockArrays();
        return levels.LevelDb(chan.m_pPower[nBin] * levels.ChannelGains(chan.PowerScale())[nBin]);
    }
};

SLevelSettings Dbfs(EWeighting eWeighting = EWeighting::Z) {
    SLevelSettings s;
    s.eUnit = ELevelUnit::Dbfs;
    s.eWeighting = eWeighting;
    return s;
}

} // namespace

// The grid's own numbers move with the size; dBFS does not, whatever the
// window and its length, and Pink 2 Flat leaves a 1 kHz sine where it was.
TEST(LevelScale, ASineReadsItsDbfsAtItsBinWhateverTheRunsSettings) {
    const double dAmplitude = kFullScale * 0.1; // -20 dBFS
    for (int nSize : {1024, 16384}) {
        const int nBin = nSize / 32; // 1 kHz at 32 kHz
        for (int nWindow = 0; nWindow < 4; ++nWindow) {
            for (int nLength : {nSize, nSize / 2 + 100}) {
                for (bool bPink : {false, true}) {
                    SCOPED_TRACE(testing::Message() << nSize << " window " << nWindow << " length "
                                                    << nLength << " pink " << bPink);
                    SToneRun run(32000, nSize, nWindow, nLength, bPink);
                    run.Play(dAmplitude, nBin, nLength);
                    EXPECT_NEAR(run.LevelDb(Dbfs(), nBin), -20.0, 0.2);
                }
            }
        }
    }
}

// Pink 2 Flat keeps its tilt: an octave above 1 kHz a sine reads 3 dB more.
TEST(LevelScale, PinkToFlatKeepsItsTiltAroundOneKilohertz) {
    SToneRun run(32000, 4096, 2, 4096, true);
    run.Play(kFullScale * 0.1, 256, 4096);
    EXPECT_NEAR(run.LevelDb(Dbfs(), 256), -20.0 + 10 * std::log10(2.0), 0.05);
}

// A weighting or a microphone's response changes each bin by its own dB; the
// microphone counts only in dB SPL, with the calibration on top.
TEST(LevelScale, WeightingAndMicrophoneTakeEachBin) {
    SToneRun run(32000, 4096, 2, 4096, false);
    const int nBin = 4096 * 100 / 32000 + 1; // 101.6 Hz
    const double dHz = nBin * 32000.0 / 4096;
    run.Play(kFullScale * 0.1, nBin, 4096);
    EXPECT_NEAR(run.LevelDb(Dbfs(EWeighting::A), nBin) - run.LevelDb(Dbfs(), nBin),
                WeightingDb(EWeighting::A, dHz), 1e-9);

    auto pMic = std::make_shared<CMicResponse>();
    pMic->m_aPoints = {{20.0, 3.0}, {20000.0, 3.0}};
    SLevelSettings fs = Dbfs();
    fs.pMic = pMic;
    EXPECT_NEAR(run.LevelDb(fs, nBin), run.LevelDb(Dbfs(), nBin), 1e-9);
    SLevelSettings spl = fs;
    spl.eUnit = ELevelUnit::DbSpl;
    spl.dFullScaleDbSpl = 120.0;
    EXPECT_NEAR(run.LevelDb(spl, nBin), run.LevelDb(Dbfs(), nBin) + 120.0 - 3.0, 1e-9);
}

TEST(LevelScale, CaptionsNameTheUnitAndTheWeighting) {
    SLevelSettings s = Dbfs();
    EXPECT_EQ(CLevelScale::Caption(s), "dBFS");
    s.eWeighting = EWeighting::A;
    EXPECT_EQ(CLevelScale::Caption(s), "dBFS (A)");
    s.eUnit = ELevelUnit::DbSpl;
    EXPECT_EQ(CLevelScale::Caption(s), "dB(A) SPL");
    s.eWeighting = EWeighting::Z;
    EXPECT_EQ(CLevelScale::Caption(s), "dB SPL");
    s.eUnit = ELevelUnit::AsDesigned;
    EXPECT_EQ(CLevelScale::Caption(s), "");
}
