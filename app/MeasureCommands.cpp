#include "app/MeasureCommands.h"

#include "app/RadioItems.h"
#include "app/RunCommand.h"
#include "capture/CaptureEngine.h"
#include "view/SpectrumView.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QWidget>

CMeasureCommands::CMeasureCommands(QWidget* pWindow, CSpectrumView* pView, EngineFn fnEngine)
    : QObject(pWindow), m_pView(pView), m_fnEngine(std::move(fnEngine)),
      m_pActionDistortion(MakeWindowCommand(pWindow, QStringLiteral("Distortion"),
                                            QKeySequence(Qt::CTRL | Qt::Key_H), true)),
      m_pActionLoudness(MakeWindowCommand(pWindow, QStringLiteral("Loudness meter"),
                                          QKeySequence(Qt::CTRL | Qt::Key_U), true)),
      m_pTargetGroup(new QActionGroup(this)), m_pScaleGroup(new QActionGroup(this)),
      m_pTargetMenu(new QMenu(QStringLiteral("Loudness target"), pWindow)),
      m_pScaleMenu(new QMenu(QStringLiteral("Loudness scale"), pWindow)),
      m_pActionReset(MakeWindowCommand(pWindow, QStringLiteral("Reset loudness"), {})) {
    for (const STarget& target : kTargets) {
        AddRadioItem(m_pTargetMenu, m_pTargetGroup, QString::fromLatin1(target.pszName),
                     target.nLufs)
            ->setChecked(target.nLufs == kTargets[0].nLufs);
    }
    AddRadioItem(m_pScaleMenu, m_pScaleGroup, QStringLiteral("LUFS"), 0)->setChecked(true);
    AddRadioItem(m_pScaleMenu, m_pScaleGroup, QStringLiteral("LU"), 1);

    connect(m_pActionDistortion, &QAction::toggled, this, [this] { Push(); });
    connect(m_pActionLoudness, &QAction::toggled, this, [this] { Push(); });
    connect(m_pTargetGroup, &QActionGroup::triggered, this, [this] { Push(); });
    connect(m_pScaleGroup, &QActionGroup::triggered, this, [this] { Push(); });
    connect(m_pActionReset, &QAction::triggered, this, [this] {
        if (CCaptureEngine* pEngine = m_fnEngine())
            pEngine->m_loudness.Reset();
    });
    Push();
}

void CMeasureCommands::AddTo(QMenu* pMenu) {
    pMenu->addAction(m_pActionDistortion);
    pMenu->addAction(m_pActionLoudness);
    pMenu->addMenu(m_pTargetMenu);
    pMenu->addMenu(m_pScaleMenu);
    pMenu->addAction(m_pActionReset);
}

SMeasureSettings CMeasureCommands::Settings() const {
    SMeasureSettings settings;
    settings.bDistortion = m_pActionDistortion->isChecked();
    settings.bLoudness = m_pActionLoudness->isChecked();
    settings.dTargetLufs = m_pTargetGroup->checkedAction()->data().toInt();
    settings.bLoudnessInLu = m_pScaleGroup->checkedAction()->data().toInt() == 1;
    return settings;
}

QAction* CMeasureCommands::TargetAction(int nLufs) const {
    return RadioItemWithData(m_pTargetGroup, nLufs);
}

QAction* CMeasureCommands::ScaleAction(bool bLu) const {
    return RadioItemWithData(m_pScaleGroup, bLu ? 1 : 0);
}

void CMeasureCommands::SetRunning(bool bRunning) {
    if (bRunning)
        Push();
}

// Switched on, each measurement starts afresh: the distortion's averages
// here, the loudness meter in the engine's own cycle.
void CMeasureCommands::Push() {
    const SMeasureSettings settings = Settings();
    m_pView->SetMeasures(settings);
    CCaptureEngine* pEngine = m_fnEngine();
    if (pEngine == nullptr)
        return;
    if (settings.bDistortion && pEngine->m_bDistortion.exchange(1) == 0)
        pEngine->m_distortion.Reset();
    if (!settings.bDistortion)
        pEngine->m_bDistortion = 0;
    pEngine->m_bLoudness = settings.bLoudness ? 1 : 0;
}
