#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "view/Frame.h"

class CCaptureEngine;
class CSpectrumView;
class QAction;
class QActionGroup;
class QMenu;
class QWidget;

// The measurements beside the spectrum, in the "?" menu and usable while
// stopped: "Distortion" (Ctrl+H); "Loudness meter" (Ctrl+U) with its
// "Loudness target", "Loudness scale" and "Reset loudness". What is chosen
// reaches the view and, while running, the engine; nothing is stored between
// runs of the program.
class CMeasureCommands : public QObject {
    Q_OBJECT
public:
    struct STarget {
        const char* pszName;
        int nLufs;
    };
    static constexpr STarget kTargets[] = {{"EBU R128 (-23 LUFS)", -23},
                                           {"ATSC A/85 (-24 LKFS)", -24},
                                           {"Streaming (-14 LUFS)", -14},
                                           {"Podcast (-16 LUFS)", -16}};

    using EngineFn = std::function<CCaptureEngine*()>;
    CMeasureCommands(QWidget* pWindow, CSpectrumView* pView, EngineFn fnEngine);

    void AddTo(QMenu* pMenu);
    SMeasureSettings Settings() const;

    QAction* DistortionAction() const { return m_pActionDistortion; }
    QAction* LoudnessAction() const { return m_pActionLoudness; }
    QAction* TargetAction(int nLufs) const;
    QAction* ScaleAction(bool bLu) const;
    QAction* ResetLoudnessAction() const { return m_pActionReset; }

    void SetRunning(bool bRunning);

private:
    void Push();

    CSpectrumView* m_pView;
    EngineFn m_fnEngine;
    QAction* m_pActionDistortion;
    QAction* m_pActionLoudness;
    QActionGroup* m_pTargetGroup;
    QActionGroup* m_pScaleGroup;
    QMenu* m_pTargetMenu;
    QMenu* m_pScaleMenu;
    QAction* m_pActionReset;
};
