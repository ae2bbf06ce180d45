#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "analysis/LevelScale.h"
#include "analysis/ReferenceSpectrum.h"
#include "app/CalibrationStore.h"

class CCalibrationDialog;
class CCaptureEngine;
class CSpectrumView;
class QAction;
class QActionGroup;
class QMenu;
class QWidget;

// Levels in real units: the "Level unit" and "Weighting" choices, the level
// meter and its time weighting, and the chosen device's calibration and
// microphone response. Usable while stopped too. Whatever is chosen reaches
// the view and, while running, the engine's meters; "As designed" leaves the
// picture as the grid draws it.
class CLevelCommands : public QObject {
    Q_OBJECT
public:
    struct SHooks {
        // The running engine, or null.
        std::function<CCaptureEngine*()> fnEngine;
        // The capture device chosen now, by name.
        std::function<QString()> fnDeviceName;
    };

    CLevelCommands(QWidget* pWindow, CSpectrumView* pView, SHooks hooks);

    // Adds the commands to the "?" menu.
    void AddTo(QMenu* pMenu);

    SLevelSettings Settings() const;
    bool IsMeterShown() const;
    bool IsSlow() const;
    // The chosen device's calibration, if any.
    const SStoredCalibration& Calibration() const { return m_calibration; }
    const QString& Device() const { return m_strDevice; }

    QAction* UnitAction(ELevelUnit eUnit) const;
    QAction* WeightingAction(EWeighting eWeighting) const;
    QAction* MeterAction() const { return m_pActionMeter; }
    QAction* SlowAction() const { return m_pActionSlow; }
    QAction* ResetMeterAction() const { return m_pActionResetMeter; }
    QAction* CalibrateAction() const { return m_pActionCalibrate; }
    QAction* ForgetAction() const { return m_pActionForget; }
    QAction* LoadMicAction() const { return m_pActionLoadMic; }
    QAction* ClearMicAction() const { return m_pActionClearMic; }
    // The calibration dialog while it is open.
    CCalibrationDialog* CalibrationDialog() const { return m_pDialog; }

    // The device chosen now: its calibration is read, and without one
    // "dB SPL" falls back to dBFS, saying so once.
    void FollowDevice();
    // A run begins: its meters take the weighting and time weighting.
    void SetRunning(bool bRunning);

    void OnCalibrate();
    void OnForgetCalibration();
    void OnLoadMicResponse();
    void OnClearMicResponse();
    void OnResetMeter();

signals:
    void LevelsChanged();

private:
    void CreateActions();
    void OnUnitChosen();
    void Push();
    void PushToEngine(CCaptureEngine* pEngine) const;
    void UpdateEnabled();
    void StoreCalibration();
    void OnCalibrated(double dFullScaleDbSpl, const QString& strHow);
    CReferenceSpectrum CalibrationSpectrum() const;

    QWidget* m_pWindow;
    CSpectrumView* m_pView;
    SHooks m_hooks;
    QString m_strDevice;
    SStoredCalibration m_calibration;
    // The meter is shown in a unit unless the user switched it off there.
    bool m_bMeterWanted = true;
    QString m_strMicFolder;

    QMenu* m_pUnitMenu;
    QMenu* m_pWeightingMenu;
    QMenu* m_pTimeMenu;
    QActionGroup* m_pUnitGroup;
    QActionGroup* m_pWeightingGroup;
    QActionGroup* m_pTimeGroup;
    QAction* m_pActionMeter;
    QAction* m_pActionFast;
    QAction* m_pActionSlow;
    QAction* m_pActionResetMeter;
    QAction* m_pActionCalibrate;
    QAction* m_pActionForget;
    QAction* m_pActionLoadMic;
    QAction* m_pActionClearMic;
    CCalibrationDialog* m_pDialog = nullptr;
};
