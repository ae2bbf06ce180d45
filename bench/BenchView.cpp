// Time of one frame of the running display, the hand-over to the window
// included.
//
//   build-view/bench/bench_view --benchmark_repetitions=9
//       --benchmark_report_aggregates_only=true
//
// Arguments: width, height (logical pixels), transform size, stereo, Min
// X-space, display mode, the device pixel ratio in hundredths, whether a
// reference line is drawn over the bars (BM_RenderFrameReference runs the
// same frames with and without one, to compare in one run), and the level
// unit: 0 as designed, 1 dBFS with the level meter's readout, its Offset
// set so that the bars stand where they stand as designed and the two
// frames fill the same pixels (BM_RenderFrameLevels runs both side by side),
// and whether the spectrogram is shown under the spectrum
// (BM_RenderFrameSpectrogram runs the same frames with and without it).
//
// The last argument shows 1/bands-octave bands instead of the bins
// (BM_RenderFrameBands: third-octave bands against the bins at Min X-space 2).
//
// BM_RenderFrameMeasures: the spectrum alone, with the distortion readout
// ("aids" 4) and with the loudness meter (5), side by side.
//
// BM_SpectrogramPass: a pass's work for the spectrogram on the acquisition
// cycle's thread, at 1920 device pixels wide: folding the pass into the row
// being gathered, and with "row" 1 writing a row (every call does).

#include "analysis/AnalysisChannel.h"
#include "analysis/ReferenceSpectrum.h"
#include "analysis/distortion/DistortionAnalyser.h"
#include "analysis/loudness/LoudnessMeter.h"
#include "view/SpectrumView.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

// A spectrum as the analyser sees music: a noise floor that falls with
// frequency, a few strong partials, and held maxima above it all.
void FillSpectrum(CAnalysisChannel& chan, int nFft, unsigned nSeed) {
    std::mt19937 rng(nSeed);
    std::uniform_real_distribution<double> noise(0.2, 5.0);
    auto lock = chan.LockArrays();
    for (int b = 0; b < nFft; ++b) {
        chan.m_pPower[b] = 1e12 * noise(rng) / (1.0 + b * 0.05);
        chan.m_pHold[b] = chan.m_pPower[b] * 3.0;
    }
    for (int b = 40; b < nFft / 2; b += 37) {
        chan.m_pPower[b] = 1e15;
        chan.m_pHold[b] = 2e15;
    }
}

void BM_RenderFrame(benchmark::State& state) {
    const int nWidth = static_cast<int>(state.range(0));
    const int nHeight = static_cast<int>(state.range(1));
    const int nFft = static_cast<int>(state.range(2));
    const bool bStereo = state.range(3) != 0;
    const int nRate = 44100;

    CAnalysisChannel left;
    CAnalysisChannel right;
    left.Setup(nFft, static_cast<double>(nFft) / nRate);
    right.Setup(nFft, static_cast<double>(nFft) / nRate);
    left.SetWindow(2, nFft);
    right.SetWindow(2, nFft);
    FillSpectrum(left, nFft, 1);
    FillSpectrum(right, nFft, 2);
    left.m_dPeakHz = 441.3;

    CSpectrumView view;
    view.resize(nWidth, nHeight);
    view.SetDevicePixelRatio(static_cast<double>(state.range(6)) / 100.0);
    view.UpdateBackBuffer();
    view.m_nSpanLowHz = 22;
    view.m_nSpanHighHz = nRate / 2;
    view.m_nMinXSpace = static_cast<int>(state.range(4));
    view.m_nDisplayMode = static_cast<int>(state.range(5));
    view.m_bHold = 1;
    view.m_nCursorX = nWidth / 3;
    view.m_nCursorY = nHeight / 2;
    view.BindChannels(&left, &right, nFft, nRate);
    view.DrawScale();
    view.SetFftsPerCycle(37);
    if (state.range(7) != 0) {
        CAnalysisChannel kept;
        kept.Setup(nFft, static_cast<double>(nFft) / nRate);
        FillSpectrum(kept, nFft, 3);
        view.SetReference(std::make_shared<const CReferenceSpectrum>(CReferenceSpectrum::FromBins(
            kept.m_pPower, nFft / 2 + 1, static_cast<double>(nRate) / nFft, kept.PowerScale(),
            "kept")));
    }
    if (state.range(8) != 0) {
        SLevelSettings levels;
        levels.eUnit = ELevelUnit::Dbfs;
        view.SetLevels(levels, true, false);
        const std::vector<std::int32_t> anTone(4410, 3277);
        left.m_meter.Feed(anTone.data(), static_cast<int>(anTone.size()));
        // As designed a value P stands where the grid reads 10 log10 P - 158.1
        // at Offset 100 and Y-scale 100; in dBFS it reads 10 log10 P less the
        // full scale's, on a grid whose top line is 100 - Offset.
        const double dFullScaleDb = 10 * std::log10(left.PowerScale().Gain(1.0));
        const double dOffset = dFullScaleDb - 158.1 + 100;
        view.m_nOffset = static_cast<int>(std::lround(dOffset));
        // What the whole Offset leaves over, the spectrum makes up.
        const double dScale = std::pow(10.0, (dOffset - view.m_nOffset) / 10);
        for (CAnalysisChannel* pChannel : {&left, &right}) {
            for (int b = 0; b < nFft; ++b) {
                pChannel->m_pPower[b] *= dScale;
                pChannel->m_pHold[b] *= dScale;
            }
        }
    }
    view.SetSpectrogram(state.range(9) != 0, CSpectrumView::kDefaultHistorySeconds);
    view.SetBands(static_cast<int>(state.range(10)));
    const int nFlags = 2 | (bStereo ? 1 : 0);
    view.RenderFrame(nFlags); // fills the text cache as a running display has it
    // The reading aids: 1 both markers with the difference from the
    // reference, 2 a frozen picture; 3 the transfer-function mode, averaged
    // over a few passes of a noisy system.
    CTransferFunction transfer;
    if (state.range(11) == 3) {
        transfer.Setup(nFft, nRate);
        std::mt19937 rng(4);
        std::normal_distribution<double> noise(0.0, 1000.0);
        std::vector<SComplex> x(static_cast<std::size_t>(nFft));
        std::vector<SComplex> y(static_cast<std::size_t>(nFft));
        for (int nPass = 0; nPass < 8; ++nPass) {
            for (int k = 0; k < nFft; ++k) {
                x[std::size_t(k)] = SComplex{noise(rng), noise(rng)};
                y[std::size_t(k)] = SComplex{0.5 * x[std::size_t(k)].re + 0.2 * noise(rng),
                                             0.5 * x[std::size_t(k)].im + 0.2 * noise(rng)};
            }
            transfer.Pass(x.data(), y.data(), 0.05);
        }
        view.BindTransfer(&transfer);
        view.SetTransferMode(true);
        view.RenderFrame(nFlags);
    }
    // 4 the distortion readout of a tone with harmonics, 5 the loudness
    // meter after some seconds of a tone.
    CDistortionAnalyser distortion;
    CLoudnessMeter loudness;
    if (state.range(11) == 4) {
        distortion.Configure(nRate, nFft);
        std::vector<double> ad(static_cast<std::size_t>(nFft));
        for (int n = 0; n < nFft; ++n) {
            const double dPhase = 2.0 * std::numbers::pi * 1000.0 * n / nRate;
            ad[std::size_t(n)] = 16000.0 * (std::sin(dPhase) + 1e-3 * std::sin(2 * dPhase) +
                                            3e-4 * std::sin(3 * dPhase));
        }
        distortion.Feed(ad.data(), nFft);
        view.BindDistortion(&distortion);
        view.SetMeasures({.bDistortion = true});
    } else if (state.range(11) == 5) {
        loudness.Configure(nRate);
        const std::vector<std::int32_t> anTone(std::size_t(4 * nRate), 2000);
        loudness.Feed(anTone.data(), anTone.data(), 4 * nRate);
        view.BindLoudness(&loudness);
        view.SetMeasures({.bLoudness = true});
    }
    if (state.range(11) == 1) {
        view.SetMarkerHz(0, 40 * nRate / double(nFft));
        view.SetMarkerHz(1, 410 * nRate / double(nFft));
        view.SetDifference(true);
    } else if (state.range(11) == 2) {
        view.SetFrozen(true);
    }

    for (auto _ : state) {
        view.RenderFrame(nFlags);
        benchmark::ClobberMemory();
    }
    view.BindChannels(nullptr, nullptr, 0, 0);
    view.BindTransfer(nullptr);
    view.BindDistortion(nullptr);
    view.BindLoudness(nullptr);
}

void FrameArguments(benchmark::internal::Benchmark* pBench) {
    pBench->ArgNames(
        {"w", "h", "N", "stereo", "minx", "mode", "ratio", "ref", "unit", "sg", "bands", "aids"});
    for (int nRatio : {100, 150, 200}) {
        for (auto [w, h] : {std::pair{1920, 1000}, std::pair{784, 405}}) {
            for (int nFft : {4096, 16384}) {
                for (int nStereo : {0, 1}) {
                    for (int nMinX : {0, 2}) {
                        for (int nMode : {0, 1}) {
                            pBench->Args(
                                {w, h, nFft, nStereo, nMinX, nMode, nRatio, 0, 0, 0, 0, 0});
                        }
                    }
                }
            }
        }
    }
}

void ReferenceArguments(benchmark::internal::Benchmark* pBench) {
    pBench->ArgNames(
        {"w", "h", "N", "stereo", "minx", "mode", "ratio", "ref", "unit", "sg", "bands", "aids"});
    for (int nRatio : {100, 200}) {
        for (auto [w, h] : {std::pair{1920, 1000}, std::pair{784, 405}}) {
            for (int nMinX : {0, 2}) {
                for (int nRef : {0, 1}) {
                    pBench->Args({w, h, 4096, 0, nMinX, 0, nRatio, nRef, 0, 0, 0, 0});
                }
            }
        }
    }
}

void LevelArguments(benchmark::internal::Benchmark* pBench) {
    pBench->ArgNames(
        {"w", "h", "N", "stereo", "minx", "mode", "ratio", "ref", "unit", "sg", "bands", "aids"});
    for (int nRatio : {100, 200}) {
        for (auto [w, h] : {std::pair{1920, 1000}, std::pair{784, 405}}) {
            for (int nMinX : {0, 2}) {
                for (int nUnit : {0, 1}) {
                    pBench->Args({w, h, 4096, 0, nMinX, 0, nRatio, 0, nUnit, 0, 0, 0});
                }
            }
        }
    }
}

void SpectrogramArguments(benchmark::internal::Benchmark* pBench) {
    pBench->ArgNames(
        {"w", "h", "N", "stereo", "minx", "mode", "ratio", "ref", "unit", "sg", "bands", "aids"});
    for (int nRatio : {100, 200}) {
        for (auto [w, h] : {std::pair{1920, 1000}, std::pair{784, 405}}) {
            for (int nMinX : {0, 2}) {
                for (int nShown : {0, 1}) {
                    pBench->Args({w, h, 4096, 0, nMinX, 0, nRatio, 0, 0, nShown, 0, 0});
                }
            }
        }
    }
}

void BandArguments(benchmark::internal::Benchmark* pBench) {
    pBench->ArgNames(
        {"w", "h", "N", "stereo", "minx", "mode", "ratio", "ref", "unit", "sg", "bands", "aids"});
    for (int nRatio : {100, 200}) {
        for (auto [w, h] : {std::pair{1920, 1000}, std::pair{784, 405}}) {
            for (int nStereo : {0, 1}) {
                pBench->Args({w, h, 4096, nStereo, 2, 0, nRatio, 0, 0, 0, 0, 0});
                pBench->Args({w, h, 4096, nStereo, 2, 0, nRatio, 0, 0, 0, 3, 0});
            }
        }
    }
}

// The stereo spectrum and the transfer-function mode side by side.
void TransferArguments(benchmark::internal::Benchmark* pBench) {
    pBench->ArgNames(
        {"w", "h", "N", "stereo", "minx", "mode", "ratio", "ref", "unit", "sg", "bands", "aids"});
    for (auto [w, h] : {std::pair{1920, 1000}, std::pair{784, 405}}) {
        for (int nFft : {4096, 16384}) {
            for (int nAids : {0, 3}) {
                pBench->Args({w, h, nFft, 1, 2, 0, 100, 0, 0, 0, 0, nAids});
            }
        }
    }
}

void AidArguments(benchmark::internal::Benchmark* pBench) {
    pBench->ArgNames(
        {"w", "h", "N", "stereo", "minx", "mode", "ratio", "ref", "unit", "sg", "bands", "aids"});
    for (auto [w, h] : {std::pair{1920, 1000}, std::pair{784, 405}}) {
        for (int nFft : {4096, 16384}) {
            for (int nAids : {0, 1, 2}) {
                pBench->Args({w, h, nFft, 0, 2, 0, 100, 1, 0, 0, 0, nAids});
            }
        }
    }
}

// The spectrum alone and with the distortion readout or the loudness meter.
void MeasureArguments(benchmark::internal::Benchmark* pBench) {
    pBench->ArgNames(
        {"w", "h", "N", "stereo", "minx", "mode", "ratio", "ref", "unit", "sg", "bands", "aids"});
    for (auto [w, h] : {std::pair{1920, 1000}, std::pair{784, 405}}) {
        for (int nFft : {4096, 16384}) {
            for (int nAids : {0, 4, 5}) {
                pBench->Args({w, h, nFft, 0, 2, 0, 100, 0, 0, 0, 0, nAids});
            }
        }
    }
}

void BM_SpectrogramPass(benchmark::State& state) {
    const int nFft = static_cast<int>(state.range(0));
    const bool bRow = state.range(1) != 0;
    const int nRate = 44100;
    CAnalysisChannel chan;
    chan.Setup(nFft, static_cast<double>(nFft) / nRate);
    FillSpectrum(chan, nFft, 1);
    SSpectrogramShape shape;
    shape.geo = SSpanGeometry::Of(nRate, nFft, 22, nRate / 2, 1920);
    shape.nFirstColumn = 28;
    shape.nColumns = 1920 - 28;
    shape.nRows = 540;
    shape.nBins = nFft / 2 + 1;
    shape.nSampleRate = nRate;
    shape.nFftSize = nFft;
    shape.nRowNs = 10'000'000'000 / shape.nRows;
    CSpectrogram spectrogram;
    spectrogram.SetShape(shape);
    const SPowerScale scale = chan.PowerScale();
    spectrogram.SetColours(1e6, 1e16, scale, true);
    std::int64_t nNowNs = 1;
    for (auto _ : state) {
        spectrogram.Pass(chan.m_pPower, shape.nBins, scale, nNowNs);
        nNowNs += bRow ? shape.nRowNs : 1;
    }
    if (bRow && spectrogram.RowsWritten() < static_cast<int>(state.iterations())) {
        state.SkipWithError("a pass did not write its row");
    }
}

BENCHMARK(BM_RenderFrame)->Apply(FrameArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderFrame)
    ->Name("BM_RenderFrameSpectrogram")
    ->Apply(SpectrogramArguments)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderFrame)
    ->Name("BM_RenderFrameBands")
    ->Apply(BandArguments)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpectrogramPass)
    ->ArgNames({"N", "row"})
    ->ArgsProduct({{4096, 16384}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderFrame)
    ->Name("BM_RenderFrameReference")
    ->Apply(ReferenceArguments)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderFrame)
    ->Name("BM_RenderFrameTransfer")
    ->Apply(TransferArguments)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderFrame)
    ->Name("BM_RenderFrameAids")
    ->Apply(AidArguments)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderFrame)
    ->Name("BM_RenderFrameMeasures")
    ->Apply(MeasureArguments)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderFrame)
    ->Name("BM_RenderFrameLevels")
    ->Apply(LevelArguments)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
