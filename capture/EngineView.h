#pragma once

class CAnalysisChannel;
class CDistortionAnalyser;
class CLoudnessMeter;
class CTransferFunction;

// What the capture engine and its acquisition cycle need of the display. The
// spectrum view implements it; tests put a recording fake in its place.
class IEngineView {
public:
    virtual ~IEngineView() = default;

    // Engine start: bind the two channels and take the run's transform size and
    // rate (the bin width follows from them). Null channels unbind: once this
    // returns, nothing of the view reads the old ones.
    virtual void BindChannels(CAnalysisChannel* pLeft, CAnalysisChannel* pRight, int nFftSize,
                              int nSampleRate) = 0;
    // Draws the frequency scale under the plot (may wait for a frame in progress).
    virtual void DrawScale() = 0;
    // Set while the scale is being drawn: the cycle then ends without drawing.
    virtual bool IsScaleBusy() const = 0;
    // Passes of the previous cycle, shown by the statistics line.
    virtual void SetFftsPerCycle(int nPasses) = 0;
    // A pass has left new spectra in the channels (flags 2 mono, 3 stereo).
    // The view draws a frame of them on a thread of its own when the window
    // wants one; this returns at once and never waits.
    virtual void NewArrays(int nFlags) = 0;
    // Whether the device has stopped delivering (its positions can no longer be
    // had): the frames then say that no sound is arriving. Told on every change,
    // and cleared when an engine starts.
    virtual void SetSignalLost(bool bLost) = 0;
    // Engine start, before the channels: the transfer function the passes
    // estimate (null unbinds it, after the channels at engine stop).
    virtual void BindTransfer(const CTransferFunction* /*pTransfer*/) {}
    // The same for the distortion readout and the loudness meter.
    virtual void BindDistortion(const CDistortionAnalyser* /*pDistortion*/) {}
    virtual void BindLoudness(const CLoudnessMeter* /*pLoudness*/) {}
};
