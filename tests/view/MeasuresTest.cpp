// The measurements beside the spectrum on the picture: the loudness meter's
// line at the left under the caption, in amber or red when over, and the
// distortion readout's line under it with each harmonic named over its bar.
// Off, they leave the picture as it was.

#include "ViewTestSupport.h"

#include "analysis/distortion/DistortionAnalyser.h"
#include "analysis/loudness/LoudnessMeter.h"
#include "view/DistortionReadout.h"
#include "view/LoudnessReadout.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kFft = 4096;
constexpr int kWidth = 784;

// dSeconds of a stereo sine at dDbfs (RMS re a full-scale sine) with a
// phase of dPhase, both channels alike.
void PlayTone(CLoudnessMeter& meter, double dHz, double dDbfs, double dSeconds,
              double dPhase = 0.0) {
    const double dAmplitude = 32768.0 * std::pow(10.0, dDbfs / 20.0);
    std::vector<std::int32_t> an(4800);
    for (long n = 0; n < long(dSeconds * kRate);) {
        const int nCount = int(std::min<long>(4800, long(dSeconds * kRate) - n));
        for (int i = 0; i < nCount; ++i, ++n)
            an[std::size_t(i)] = std::int32_t(std::lround(
                dAmplitude * std::sin(2.0 * std::numbers::pi * dHz * n / kRate + dPhase)));
        meter.Feed(an.data(), an.data(), nCount);
    }
}

class MeasuresTest : public ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        Resize(kWidth, 405);
        StartRun(kRate, kFft, 22, kRate / 2, 1e-6);
        m_meter.Configure(kRate);
        ASSERT_TRUE(m_distortion.Configure(kRate, kFft));
        m_pView->BindLoudness(&m_meter);
        m_pView->BindDistortion(&m_distortion);
    }
    void TearDown() override {
        m_pView->BindChannels(nullptr, nullptr, 0, 0);
        m_pView->BindLoudness(nullptr);
        m_pView->BindDistortion(nullptr);
        ViewTest::TearDown();
    }
    void Show(const SMeasureSettings& settings) {
        m_pView->SetMeasures(settings);
        m_pView->RenderFrame(2);
    }
    SMeasureFrame Loudness(const SMeasureSettings& settings) const {
        SMeasureFrame m;
        m.settings = settings;
        m.bHasLoudness = true;
        m.loudness = m_meter.Figures();
        return m;
    }

    CLoudnessMeter m_meter;
    CDistortionAnalyser m_distortion;
};

} // namespace

// A programme at the EBU target reads it on the first free row, in the
// label colour; in LU it reads 0 re the target.
TEST_F(MeasuresTest, TheLoudnessLineReadsTheMeterUnderTheCaption) {
    const QImage before = (m_pView->RenderFrame(2), Back());
    PlayTone(m_meter, 1000.0, -23.0, 5.0);
    Show({.bLoudness = false});
    EXPECT_EQ(Back(), before) << "the meter off changed the picture";

    Show({.bLoudness = true});
    const std::string str = "M -23.0  S -23.0  I -23.0 LUFS  LRA 0.0 LU (settling)  TP -23.0 dBTP";
    EXPECT_EQ(CLoudnessReadout::Text(Loudness({.bLoudness = true})), str);
    EXPECT_TRUE(ShowsText(Back(), 33, 18, str, kLabelText, kMargin));

    Show({.bLoudness = true, .dTargetLufs = -16.0, .bLoudnessInLu = true});
    const std::string strLu = "M -7.0  S -7.0  I -7.0 LU  LRA 0.0 LU (settling)  TP -23.0 dBTP";
    EXPECT_TRUE(ShowsText(Back(), 33, 18, strLu, kLabelText, kMargin));
}

// More than 1 LU over the target: amber; a true peak over -1 dBTP: red,
// though no sample reaches it.
TEST_F(MeasuresTest, TheLoudnessLineWarnsOfALoudProgrammeAndOfTruePeaks) {
    PlayTone(m_meter, 1000.0, -21.9, 3.5);
    const SMeasureSettings settings{.bLoudness = true};
    EXPECT_EQ(CLoudnessReadout::Colour(Loudness(settings), kLabelText), CLoudnessReadout::kAmber);
    Show(settings);
    EXPECT_TRUE(ShowsText(Back(), 33, 18, CLoudnessReadout::Text(Loudness(settings)),
                          CLoudnessReadout::kAmber, kMargin));
    EXPECT_EQ(
        CLoudnessReadout::Colour(Loudness({.bLoudness = true, .dTargetLufs = -14.0}), kLabelText),
        kLabelText);

    // A sine at a quarter of the rate, 45 degrees off its samples: they
    // stay 3 dB under its peak of -0.5 dBFS.
    m_meter.Reset();
    PlayTone(m_meter, kRate / 4.0, -0.5, 1.0, std::numbers::pi / 4.0);
    EXPECT_EQ(CLoudnessReadout::Colour(Loudness(settings), kLabelText), CLoudnessReadout::kRed);
    Show(settings);
    EXPECT_TRUE(ShowsText(Back(), 33, 18, CLoudnessReadout::Text(Loudness(settings)),
                          CLoudnessReadout::kRed, kMargin));
}

// The distortion line goes under the loudness line, or takes its row; each
// harmonic's label stands over its column.
TEST_F(MeasuresTest, TheDistortionLineAndTheHarmonicsLabels) {
    std::vector<double> ad(kFft);
    for (int n = 0; n < kFft; ++n) {
        const double dPhase = 2.0 * std::numbers::pi * 1500.0 * n / kRate;
        ad[std::size_t(n)] = 16384.0 * (std::sin(dPhase) + 1e-3 * std::sin(2.0 * dPhase) +
                                        std::pow(10.0, -70.0 / 20.0) * std::sin(3.0 * dPhase));
    }
    m_distortion.Feed(ad.data(), kFft);
    const SDistortion d = m_distortion.Result();
    ASSERT_EQ(d.eStatus, EDistortionStatus::Ok);
    const std::string str = CDistortionReadout::Text(d);
    EXPECT_NE(str.find("1500.0 Hz -6.0 dBFS  THD 0.105 % (-59.6 dB)  THD+N 0.105 % (-59.6 dB)"),
              std::string::npos)
        << str;

    Show({.bDistortion = true});
    EXPECT_TRUE(ShowsText(Back(), 33, 18, str, kLabelText, kMargin));
    for (auto [k, pszLabel] : {std::pair{2, "H2 -60"}, {3, "H3 -70"}}) {
        int x = 0;
        for (int c = 0; c < kWidth; ++c)
            if (std::abs(Geometry().HzAt(c) - 1500 * k) < std::abs(Geometry().HzAt(x) - 1500 * k))
                x = c;
        bool bShown = false;
        for (int y = 32; y < m_pView->m_nPlotBottom && !bShown; ++y)
            for (int dx = -2; dx <= 2 && !bShown; ++dx)
                bShown = ShowsText(Back(), x + dx - TextWidth(pszLabel) / 2, y, pszLabel,
                                   kLabelText, kMargin);
        EXPECT_TRUE(bShown) << pszLabel;
    }

    Show({.bDistortion = true, .bLoudness = true});
    EXPECT_TRUE(ShowsText(Back(), 33, 32, str, kLabelText, kMargin));
}

// Without a tone there is no figure, only the reason.
TEST_F(MeasuresTest, TheDistortionLineSaysWhyItHasNoReading) {
    m_distortion.Feed(std::vector<std::int32_t>(kFft, 0).data(), kFft);
    Show({.bDistortion = true});
    EXPECT_TRUE(
        ShowsText(Back(), 33, 18, "Distortion: no tone 20 dB above the rest", kLabelText, kMargin));
    m_distortion.MarkBlockShort();
    Show({.bDistortion = true});
    EXPECT_TRUE(ShowsText(Back(), 33, 18, "Distortion: Length must take the whole block",
                          kLabelText, kMargin));
}
