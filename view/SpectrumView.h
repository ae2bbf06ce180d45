#pragma once

#include "analysis/BandHold.h"
#include "capture/EngineView.h"
#include "platform/Brush.h"
#include "platform/DC.h"
#include "platform/Pen.h"
#include "platform/WindowDC.h"
#include "view/Frame.h"
#include "view/FrameHandOver.h"
#include "view/FrameThread.h"
#include "view/FrozenPass.h"
#include "view/NoteOverlay.h"
#include "view/ReferenceLine.h"
#include "view/RunningFrame.h"
#include "view/SpanGeometry.h"
#include "view/Spectrogram.h"

#include <QImage>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CAnalysisChannel;
class CReferenceSpectrum;
class QSpinBox;

// The display settings the dialog pushes, all at once, whenever one changes.
struct SViewSettings {
    int nSampleRate = 0;
    int nFftSize = 0;
    int nSpanLowHz = 0;
    int nSpanHighHz = 0;
    bool bHold = false;
    int nYScale = 100;
    int nOffsetRight = 100;
    int nOffset = 100;
    int nMinXSpace = 2;
};

// The spectrum display: the run parameters and display settings the drawing
// reads, the mouse gestures that choose the frequency span and the display
// mode, and the wiring of the rooms that do the rest:
// - the composers draw the pictures: the running frame (CRunningFrame) with
//   the note overlay (CNoteOverlay) and the reference line (CReferenceLine),
//   the scale strip (CScaleStrip) and the welcome page (CIdlePage);
// - the hand-over (CFrameHandOver) takes finished pictures to the window and
//   sets the pace at which frames are drawn;
// - the frame thread (CFrameThread) draws the running frames, so that the
//   acquisition cycle only analyses;
// - the spectrogram (CSpectrogram) keeps the history under the spectrum,
//   written row by row by the passes.
//
// Geometry is in logical pixels; the pictures are drawn at the window's device
// pixel ratio, so that each logical pixel gets ratio x ratio device pixels.
//
// Threads: the user-interface thread runs the event handlers, UpdateBackBuffer
// and DrawScale; the frame thread draws the running frames; RenderFrame may be
// called on any of them. The fields they share are atomics. m_lockFrame keeps
// a frame apart from DrawScale and UpdateBackBuffer, and guards the buffers
// and what a frame keeps; a frame that cannot draw at once is skipped rather
// than waited for. A frame copies the channels' arrays under their locks as it
// begins and draws from the copy, holding nothing the acquisition cycle needs.
class CSpectrumView : public QWidget, public IEngineView {
    Q_OBJECT

public:
    explicit CSpectrumView(QWidget* pParent = nullptr);
    ~CSpectrumView() override;

    // The display settings, as the dialog holds them: a new span draws the
    // scale anew. Returns whether Hold was switched on, for the holds to start
    // from what comes next.
    bool ApplySettings(const SViewSettings& settings);

    // The address the welcome page sends the reader to with F1: the one F1
    // opens (the build's web address until the dialog says otherwise). A page
    // on show is drawn again with the new address.
    void SetWebAddress(const std::string& strAddress);
    std::string WebAddress() const;

    // A spectrum to compare the live one with, drawn over the bars as a line
    // at the left channel's levels; null draws none.
    void SetReference(std::shared_ptr<const CReferenceSpectrum> pReference);
    static constexpr COLORREF kReferenceColour = CReferenceLine::kColour;

    // The unit levels are read in, and whether the level meter's readout is
    // shown (with the Slow time weighting's names).
    void SetLevels(const SLevelSettings& settings, bool bMeter, bool bSlowMeter);
    SLevelSettings LevelSettings() const;

    // The spectrogram under the spectrum, with nHistorySeconds of history.
    // Switched on, it starts empty; while on, each pass of a run feeds it,
    // shown or not, and a run's start empties it.
    void SetSpectrogram(bool bShown, int nHistorySeconds);
    bool IsSpectrogramShown() const { return m_bSpectrogram.load(); }
    int SpectrogramSeconds() const { return m_nHistorySeconds.load(); }
    const CSpectrogram& Spectrogram() const { return m_spectrogram; }
    static constexpr int kDefaultHistorySeconds = 10;

    // Bars per 1/nFraction-octave band (1, 3, 6 or 12) instead of per group
    // of bins; 0 for the bins.
    void SetBands(int nFraction);
    int BandFraction() const { return m_nBandFraction.load(); }
    // With bands and Hold on, each band's held level for a channel (0 left,
    // 1 right), one per band of the span, as the bars have it; false while
    // none is held for the bands shown now.
    bool BandHold(int nChannel, std::vector<double>& adHold) const;

    // Freeze: the picture stands still while the analysis goes on. Only a
    // run can freeze; false otherwise. The view ends it itself on Stop and on
    // a change of span, size or mode, and then says so (FreezeEnded).
    bool SetFrozen(bool bFrozen);
    bool IsFrozen() const { return m_bFrozen.load(); }
    // The frozen pass, while one is shown; false otherwise.
    bool FrozenPass(SFrozenPass& frozen) const;

    // Markers A (0) and B (1) on the left channel, in Hz (NaN: none). Placing
    // one at column x snaps it to the strongest tone or band within a few
    // pixels of the picture shown; false where there is none.
    bool PlaceMarker(int nMarker, int x);
    void SetMarkerHz(int nMarker, double dHz) { m_adMarkerHz[nMarker & 1].store(dHz); }
    double MarkerHz(int nMarker) const { return m_adMarkerHz[nMarker & 1].load(); }
    // Removes the marker nearest column x.
    void RemoveMarkerNear(int x);
    void ClearMarkers();
    // Marker A to the strongest bar of the span; false where there is none.
    bool PeakToMarkerA();
    // What the markers read on the picture shown: their frequencies and
    // levels in dB of the unit (NaN where a marker is not set or reads
    // nothing).
    struct SMarkerFigures {
        double adHz[2];
        double adDb[2];
    };
    SMarkerFigures MarkerFigures() const;

    // The bars as the live level less the reference's, while one is kept.
    void SetDifference(bool bShown) { m_bDifference = bShown; }
    bool IsDifferenceShown() const { return m_bDifference.load(); }
    // Display mode 1's readout in cents (bCents) at a reference pitch for A4.
    void SetNoteReadout(bool bCents, double dA4Hz);
    // Round frequencies (or the bands' names) on the axis instead of the
    // bins' own.
    void SetRoundLabels(bool bRound);
    bool HasRoundLabels() const { return m_bRoundLabels.load(); }

    // The distortion readout and the loudness meter, read off what the
    // engine binds (BindDistortion, BindLoudness).
    void SetMeasures(const SMeasureSettings& settings);
    SMeasureSettings Measures() const;

    // The transfer-function mode: its picture instead of the spectrum's,
    // from the estimate the engine binds (BindTransfer); the coherence under
    // which its curves are hidden, and the delay in use, for the readout.
    void SetTransferMode(bool bOn) { m_bTransfer = bOn; }
    bool IsTransferMode() const { return m_bTransfer.load(); }
    void SetCoherenceThreshold(double dThreshold) { m_dCoherenceThreshold = dThreshold; }
    void SetTransferDelayMs(double dMs) { m_dDelayMs = dMs; }
    // Keeps the transfer function shown now as a trace to compare with;
    // false where there is none. Cleared with ClearKeptTransfer.
    bool KeepTransfer();
    void ClearKeptTransfer();
    bool KeptTransfer(CTransferFunction::SResults& kept) const;
    // The results the picture shows now (frozen or live); false for none.
    bool TransferShown(CTransferFunction::SResults& results) const;

    // A line across the upper plot, over the spectrum or the welcome page,
    // for nMilliseconds from now.
    void ShowNotice(const std::string& strText, int nMilliseconds);
    std::string Notice() const; // the line shown now, or empty

    // IEngineView
    void BindChannels(CAnalysisChannel* pLeft, CAnalysisChannel* pRight, int nFftSize,
                      int nSampleRate) override;
    void DrawScale() override;
    bool IsScaleBusy() const override { return m_bScaleBusy.load() != 0; }
    void SetFftsPerCycle(int nPasses) override { m_nFftsPerCycle.store(nPasses); }
    void NewArrays(int nFlags) override;
    void SetSignalLost(bool bLost) override { m_bSignalLost = bLost; }
    void BindTransfer(const CTransferFunction* pTransfer) override { m_pTransfer = pTransfer; }
    void BindDistortion(const CDistortionAnalyser* pDistortion) override {
        m_pDistortion = pDistortion;
    }
    void BindLoudness(const CLoudnessMeter* pLoudness) override { m_pLoudness = pLoudness; }
    // Whether the run analyses the built-in signal, which the plot then names.
    void SetBuiltInSignal(bool bBuiltIn) { m_bBuiltInSignal = bBuiltIn; }

    // Composes a whole frame and hands it to the window, on any thread: flags 2
    // mono, 3 stereo, 0 the picture as it is, -1 the flags of the last call
    // that gave some.
    void RenderFrame(int nFlags);
    void UpdateBackBuffer();
    // Draws at dRatio device pixels per logical pixel from now on: the buffers
    // are rebuilt, the scale and the frame drawn anew. The view follows its
    // window's ratio by itself; tests and benchmarks choose one.
    void SetDevicePixelRatio(double dRatio);
    double DevicePixelRatio() const { return m_dDevicePixelRatio.load(); }
    SSpanGeometry ComputeSpanGeometry() const;
    // The smallest size that shows a picture whole: the welcome page with
    // every line whole and apart (bIdle), or a plot with its scale and
    // readouts.
    QSize MinimumPictureSize(bool bIdle) const;
    // Frequency in Hz under client column x; false before the first run.
    bool FrequencyAt(int x, int* pHz) const;

    // The picture last handed to the window, in device pixels with its ratio
    // set (a copy, taken under its lock).
    QImage FrontImage() const { return m_handOver.FrontImage(); }
    // Frames handed to the window so far, and when the pass ended whose
    // arrays the newest of them shows (steady clock, ns): for measuring.
    int PresentedFrames() const { return m_handOver.PresentedFrames(); }
    std::int64_t FrontPassNs() const { return m_nFrontPassNs.load(); }

    // Handlers, wired from Qt's events in SpectrumView.cpp.
    void OnDestroy();
    void OnPaint();
    void OnSize(unsigned nType, int cx, int cy);
    void OnMouseMove(unsigned nFlags, QPoint point);
    void OnLButtonDblClk(unsigned nFlags, QPoint point);
    void OnRButtonDblClk(unsigned nFlags, QPoint point);
    void OnLButtonDown(unsigned nFlags, QPoint point);
    void OnLButtonUp(unsigned nFlags, QPoint point);
    void OnRButtonUp(unsigned nFlags, QPoint point);

    // Settings and run parameters, written by the dialog and the engine.
    QWidget* m_pDialog = nullptr; // the dialog, which hears CompactModeRequested
    std::atomic<int> m_nDisplayMode{0};
    std::atomic<CAnalysisChannel*> m_pLeftChannel{nullptr};
    std::atomic<CAnalysisChannel*> m_pRightChannel{nullptr};
    QSpinBox* m_pSpinSpanLow = nullptr;
    QSpinBox* m_pSpinSpanHigh = nullptr;
    std::atomic<int> m_bHold{0};
    std::atomic<int> m_nYScale{100};
    std::atomic<int> m_nOffsetRight{100};
    std::atomic<int> m_nOffset{100};
    std::atomic<int> m_nMinXSpace{2};
    std::atomic<int> m_nSpanLowHz{0};
    std::atomic<int> m_nSpanHighHz{0};
    std::atomic<int> m_nFftSize{0};    // 0 until the first run
    std::atomic<int> m_nSampleRate{0}; // 0 until the first run
    std::atomic<int> m_nFftsPerCycle{0};
    std::atomic<int> m_bScaleBusy{0};
    std::atomic<int> m_bFrameBusy{0};
    std::atomic<double> m_dBinWidth{0.0}; // written when a run is bound
    // The device stopped delivering: running frames say so in the plot.
    std::atomic<bool> m_bSignalLost{false};
    // The built-in test signal is analysed, not a sound from outside: running
    // frames say so at the plot's top left.
    std::atomic<bool> m_bBuiltInSignal{false};
    std::atomic<bool> m_bMeter{false};
    std::atomic<bool> m_bSlowMeter{false};
    std::atomic<int> m_nBandFraction{0};
    std::atomic<bool> m_bSpectrogram{false};
    std::atomic<int> m_nHistorySeconds{kDefaultHistorySeconds};
    // The reading aids.
    std::atomic<bool> m_bFrozen{false};
    std::atomic<double> m_adMarkerHz[2]{std::nan(""), std::nan("")};
    std::atomic<bool> m_bDifference{false};
    std::atomic<bool> m_bCents{false};
    std::atomic<double> m_dA4Hz{440.0};
    std::atomic<bool> m_bRoundLabels{false};
    // The transfer-function mode.
    std::atomic<bool> m_bTransfer{false};
    std::atomic<const CTransferFunction*> m_pTransfer{nullptr};
    std::atomic<double> m_dCoherenceThreshold{0.3};
    std::atomic<double> m_dDelayMs{0.0};
    // The measurements beside the spectrum.
    mutable std::mutex m_lockMeasures;
    SMeasureSettings m_measures; // under m_lockMeasures
    std::atomic<const CDistortionAnalyser*> m_pDistortion{nullptr};
    std::atomic<const CLoudnessMeter*> m_pLoudness{nullptr};

    static constexpr const char* kSignalLostText = CRunningFrame::kSignalLostText;
    static constexpr const char* kBuiltInSignalText = CRunningFrame::kBuiltInSignalText;

    CPen m_penLeft;
    CPen m_penRight;
    CPen m_penScale;
    CPen m_penCursor;
    CPen m_penGrid;
    CPen m_penReference;
    std::unique_ptr<CBrush> m_pBrushLeft;
    std::unique_ptr<CBrush> m_pBrushRight;

    // Back buffer and client geometry; rewritten only under m_lockFrame.
    std::atomic<int> m_nBufferWidth{0};
    std::atomic<int> m_nBufferHeight{0};
    std::atomic<int> m_nWidth{0};
    std::atomic<int> m_nHeight{0};
    std::atomic<int> m_nPlotBottom{-22};
    std::atomic<int> m_nCursorY{-1};
    std::atomic<int> m_nCursorX{-1};
    CDC m_dcWindow;
    CDC m_dcMemory;
    std::unique_ptr<CWindowDC> m_pWindowDC;
    std::unique_ptr<QImage> m_pBackImage;

    // Span gesture state (user-interface thread only).
    int m_nDragLowHz = 0;
    int m_nDragHighHz = 0;
    bool m_bMarkerClick = false; // a Ctrl-click in progress places a marker, not a span

    // Kept across frames (inside the frame guard only): the most recent
    // explicit flags, and the note overlay with its peak readout.
    int m_nLastFlags = 0;
    CNoteOverlay m_noteOverlay;

signals:
    // A right double-click asks for compact mode to be switched.
    void CompactModeRequested();
    // The view ended a freeze by itself.
    void FreezeEnded();

protected:
    bool event(QEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;

private:
    void SetSpan(int nLowHz, int nHighHz);
    void EndFreeze();
    void ReleaseBackBuffer();
    QImage NewBuffer() const;
    void RedrawAll();
    void FollowScreenRatio();

    // What the passes record (SpectrumViewSpectrogram.cpp): the
    // spectrogram's rows and the bands' hold.
    void RecordRow();
    void RecordBandHold(int nFlags);
    SBandHoldKey BandHoldKey() const;
    void FollowSpectrogramShape();
    SSpectrogramShape SpectrogramShape(const SSpanGeometry& geo, int nWidth, int nPlotBottom,
                                       double dRatio, int nSampleRate, int nFftSize) const;

    // Frames (SpectrumViewFrame.cpp).
    void TakeFrame(int nFlags, CAnalysisChannel* pLeft);
    void TakeArrays(const CAnalysisChannel& chan, SChannelArrays& arrays, SFrozenChannel* pRecord);
    void TakeFrozen(const SFrozenChannel& frozen, SChannelArrays& arrays);
    void TakeAids(SReadingAids& aids) const;
    void TakeTransfer();
    void TakeMeasures();
    void ToUnit(SChannelArrays& arrays);
    void TakeBands(SChannelArrays& arrays, int nChannel);
    void DrawRunningFrame(int nFlags, CAnalysisChannel* pLeft);
    SPalette Palette() const;
    void TakeNotice(std::string& strNotice) const;

    mutable std::mutex m_lockFrame;
    // Under m_lockFrame.
    std::string m_strWebAddress;
    std::string m_strNotice;
    std::chrono::steady_clock::time_point m_noticeUntil;
    SLevelSettings m_levelSettings;
    CLevelScale m_levelScale;  // the frames' unit at their run's rate and size
    COctaveBands m_bands;      // the frames' bands at their run's rate, size and span
    COctaveBands m_scaleBands; // the scale's, whose names it shows
    SFrame m_frame;            // the frame being drawn
    SFrozenPass m_frozen;      // while frozen: what the frames draw
    CTransferFunction::SResults m_keptTransfer;
    bool m_bKeptTransfer = false;
    std::vector<int> m_anTransferBins; // the bins a frame reads
    // How the frame being drawn takes its arrays.
    enum class EFreeze { Live, Record, Replay } m_eFreeze = EFreeze::Live;
    std::int64_t m_nFramePassNs = 0; // when the pass it was copied after ended
    CRunningFrame m_runningFrame;
    CReferenceLine m_referenceLine;
    // Their own locks: the passes write into them outside the frame lock.
    CSpectrogram m_spectrogram;
    CBandHold m_aBandHold[2];
    unsigned m_nScaleGeneration = 0; // scales drawn
    double m_dBufferRatio = 1.0;     // the buffers' ratio, inside the frame guard only

    std::atomic<double> m_dDevicePixelRatio{1.0};
    double m_dScreenRatio = 1.0; // the window's ratio last seen, user-interface thread only
    std::atomic<std::int64_t> m_nFrontPassNs{0};

    CFrameHandOver m_handOver;
    // Last: it stops before anything it draws with goes.
    CFrameThread m_frameThread;
};
