#pragma once

#include <QObject>

#include <string>

#include "analysis/ReferenceSpectrum.h"
#include "app/DialogSettings.h"
#include "devices/CaptureFormat.h"

class CCaptureEngine;
class CSpectrumView;

// Owns the capture engine from Start to Stop and is the one way settings
// reach it: Push copies a settings snapshot into the engine, its two
// channels and the view.
//
// A run: Create, Push (as often as the settings change), Open, Start; Stop
// ends it from any of these steps. Says when a run begins and ends.
class CRunControl : public QObject {
    Q_OBJECT
public:
    explicit CRunControl(CSpectrumView* pView);
    // Every way of ending the window stops the capture first; this only makes
    // sure no cycle outlives the view it draws into.
    ~CRunControl() override;

    bool IsRunning() const { return m_pEngine != nullptr; }
    CCaptureEngine* Engine() const { return m_pEngine; }

    // A new engine, attached to the view, for a run at the settings' rate
    // and size. Pushes reach it from now on.
    void Create(const SDialogSettings& settings);
    // Copies the settings into the engine, its channels and the view. Does
    // nothing while no engine is attached.
    void Push(const SDialogSettings& settings);
    // Opens the device (null: the default input), then starts the capture.
    // 1, or the negative code of the step that failed.
    int Open(const SCaptureGuid* pDevice);
    int Start();
    // Ends the run: a cycle in progress leaves after its current pass, the
    // engine goes, and the view shows its idle page.
    void Stop();

    // The left channel's averaged power spectrum as the bars show it now,
    // bins 0 to N/2; empty while no engine runs.
    CReferenceSpectrum LeftSpectrum(std::string strSource) const;

signals:
    void RunningChanged(bool bRunning);

private:
    void PushToEngine(const SDialogSettings& s);
    void PushToView(const SDialogSettings& s);

    CSpectrumView* m_pView;
    CCaptureEngine* m_pEngine = nullptr;
};
