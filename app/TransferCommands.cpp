#include "app/TransferCommands.h"

#include "app/Prompts.h"
#include "app/RadioItems.h"
#include "app/RunCommand.h"
#include "capture/CaptureEngine.h"
#include "view/SpectrumView.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QWidget>
#include <cmath>

namespace {

// Items carry their value in hundredths, so that seconds and thresholds fit
// RadioItems' whole numbers.
int Hundredths(double d) {
    return static_cast<int>(std::lround(d * 100));
}

} // namespace

CTransferCommands::CTransferCommands(QWidget* pWindow, CSpectrumView* pView, EngineFn fnEngine)
    : QObject(pWindow), m_pWindow(pWindow), m_pView(pView), m_fnEngine(std::move(fnEngine)),
      m_pActionMode(MakeWindowCommand(pWindow, QStringLiteral("Transfer function"),
                                      QKeySequence(Qt::CTRL | Qt::Key_T), true)),
      m_pReferenceGroup(new QActionGroup(this)), m_pAveragingGroup(new QActionGroup(this)),
      m_pSmoothingGroup(new QActionGroup(this)), m_pThresholdGroup(new QActionGroup(this)),
      m_pReferenceMenu(new QMenu(QStringLiteral("Reference channel"), pWindow)),
      m_pAveragingMenu(new QMenu(QStringLiteral("Averaging"), pWindow)),
      m_pSmoothingMenu(new QMenu(QStringLiteral("Smoothing"), pWindow)),
      m_pThresholdMenu(new QMenu(QStringLiteral("Coherence threshold"), pWindow)),
      m_pActionReset(nullptr), m_pActionFind(nullptr), m_pActionDelay(nullptr),
      m_pActionClearDelay(nullptr) {
    AddRadioItem(m_pReferenceMenu, m_pReferenceGroup, QStringLiteral("Left"), 0)->setChecked(true);
    AddRadioItem(m_pReferenceMenu, m_pReferenceGroup, QStringLiteral("Right"), 1);
    for (double dSeconds : kAveragingSeconds) {
        const QString strText =
            dSeconds > 0.0 ? QStringLiteral("%1 s").arg(dSeconds) : QStringLiteral("Infinite");
        AddRadioItem(m_pAveragingMenu, m_pAveragingGroup, strText, Hundredths(dSeconds))
            ->setChecked(dSeconds == CTransferFunction::kDefaultSeconds);
    }
    m_pAveragingMenu->addSeparator();
    m_pActionReset = m_pAveragingMenu->addAction(QStringLiteral("Reset average"));
    for (int nFraction : kSmoothings) {
        const QString strText =
            nFraction == 0 ? QStringLiteral("Off") : QStringLiteral("1/%1 octave").arg(nFraction);
        AddRadioItem(m_pSmoothingMenu, m_pSmoothingGroup, strText, nFraction)
            ->setChecked(nFraction == CTransferFunction::kDefaultSmoothing);
    }
    for (double dThreshold : kThresholds) {
        AddRadioItem(m_pThresholdMenu, m_pThresholdGroup, QString::number(dThreshold),
                     Hundredths(dThreshold))
            ->setChecked(dThreshold == kThresholds[0]);
    }
    m_pActionFind = MakeWindowCommand(pWindow, QStringLiteral("Find delay"),
                                      QKeySequence(Qt::CTRL | Qt::Key_F));
    m_pActionDelay = MakeWindowCommand(pWindow, QStringLiteral("Delay\u2026"), {});
    m_pActionClearDelay = MakeWindowCommand(pWindow, QStringLiteral("Clear delay"), {});
    m_pActionFind->setEnabled(false);

    connect(m_pActionMode, &QAction::toggled, this, [this] { Push(); });
    for (QActionGroup* pGroup :
         {m_pReferenceGroup, m_pAveragingGroup, m_pSmoothingGroup, m_pThresholdGroup}) {
        connect(pGroup, &QActionGroup::triggered, this, [this] { Push(); });
    }
    connect(m_pReferenceGroup, &QActionGroup::triggered, this, [this] {
        if (CCaptureEngine* pEngine = m_fnEngine())
            pEngine->m_transfer.Reset();
    });
    connect(m_pActionReset, &QAction::triggered, this, [this] {
        if (CCaptureEngine* pEngine = m_fnEngine())
            pEngine->m_transfer.Reset();
    });
    connect(m_pActionFind, &QAction::triggered, this, &CTransferCommands::OnFindDelay);
    connect(m_pActionDelay, &QAction::triggered, this, &CTransferCommands::OnDelay);
    connect(m_pActionClearDelay, &QAction::triggered, this, [this] { SetDelayMs(0.0); });
    m_pollDelay.setInterval(50);
    connect(&m_pollDelay, &QTimer::timeout, this, &CTransferCommands::PollDelay);
}

void CTransferCommands::AddTo(QMenu* pMenu) {
    pMenu->addAction(m_pActionMode);
    pMenu->addMenu(m_pReferenceMenu);
    pMenu->addMenu(m_pAveragingMenu);
    pMenu->addMenu(m_pSmoothingMenu);
    pMenu->addMenu(m_pThresholdMenu);
    pMenu->addAction(m_pActionFind);
    pMenu->addAction(m_pActionDelay);
    pMenu->addAction(m_pActionClearDelay);
}

bool CTransferCommands::IsOn() const {
    return m_pActionMode->isChecked();
}
bool CTransferCommands::IsReferenceRight() const {
    return m_pReferenceGroup->checkedAction()->data().toInt() == 1;
}
double CTransferCommands::AveragingSeconds() const {
    return m_pAveragingGroup->checkedAction()->data().toInt() / 100.0;
}
int CTransferCommands::Smoothing() const {
    return m_pSmoothingGroup->checkedAction()->data().toInt();
}
double CTransferCommands::Threshold() const {
    return m_pThresholdGroup->checkedAction()->data().toInt() / 100.0;
}

QString CTransferCommands::AveragingText() const {
    const double dSeconds = AveragingSeconds();
    return dSeconds > 0.0 ? QStringLiteral("%1 s").arg(dSeconds) : QStringLiteral("Infinite");
}

QString CTransferCommands::SmoothingText() const {
    const int nFraction = Smoothing();
    return nFraction == 0 ? QStringLiteral("Off") : QStringLiteral("1/%1 octave").arg(nFraction);
}

QAction* CTransferCommands::ReferenceAction(bool bRight) const {
    return RadioItemWithData(m_pReferenceGroup, bRight ? 1 : 0);
}
QAction* CTransferCommands::AveragingAction(double dSeconds) const {
    return RadioItemWithData(m_pAveragingGroup, Hundredths(dSeconds));
}
QAction* CTransferCommands::SmoothingAction(int nFraction) const {
    return RadioItemWithData(m_pSmoothingGroup, nFraction);
}
QAction* CTransferCommands::ThresholdAction(double dThreshold) const {
    return RadioItemWithData(m_pThresholdGroup, Hundredths(dThreshold));
}

bool CTransferCommands::SetDelayMs(double dMs) {
    CCaptureEngine* pEngine = m_fnEngine();
    if (pEngine != nullptr) {
        const int nRate = pEngine->m_nSampleRate.load();
        const long nSamples = std::lround(dMs * nRate / 1000.0);
        if (std::abs(nSamples) > pEngine->MaxDelaySamples()) {
            return false;
        }
        pEngine->m_nDelaySamples = static_cast<int>(nSamples);
        pEngine->m_transfer.Reset();
        dMs = nSamples * 1000.0 / nRate;
    }
    m_dDelayMs = dMs;
    m_pView->SetTransferDelayMs(m_dDelayMs);
    return true;
}

void CTransferCommands::SetRunning(bool bRunning) {
    m_pActionFind->setEnabled(bRunning && IsOn());
    if (bRunning) {
        Push();
        SetDelayMs(m_dDelayMs);
    } else {
        m_pollDelay.stop();
    }
}

// The engine measures the delay at its next pass; its answer is waited for
// here, without holding anything up.
void CTransferCommands::OnFindDelay() {
    CCaptureEngine* pEngine = m_fnEngine();
    if (pEngine == nullptr || !IsOn()) {
        return;
    }
    pEngine->DelayResult(&m_nAnsweredBefore);
    pEngine->RequestFindDelay();
    m_nPolls = 0;
    m_pollDelay.start();
}

void CTransferCommands::PollDelay() {
    CCaptureEngine* pEngine = m_fnEngine();
    if (pEngine == nullptr) {
        m_pollDelay.stop();
        return;
    }
    int nAnswered = 0;
    const SDelayResult result = pEngine->DelayResult(&nAnswered);
    if (nAnswered == m_nAnsweredBefore) {
        if (++m_nPolls > 100) {
            m_pollDelay.stop();
            emit DelayFound(false, QStringLiteral("The delay could not be measured: no pass ran."));
        }
        return;
    }
    m_pollDelay.stop();
    if (!result.bFound) {
        emit DelayFound(false, QString::fromStdString(result.strWhy));
        return;
    }
    m_dDelayMs = result.nSamples * 1000.0 / pEngine->m_nSampleRate.load();
    m_pView->SetTransferDelayMs(m_dDelayMs);
    emit DelayFound(true, QStringLiteral("Delay %1 ms").arg(m_dDelayMs, 0, 'f', 2));
}

void CTransferCommands::OnDelay() {
    CCaptureEngine* pEngine = m_fnEngine();
    const double dMaxMs = pEngine != nullptr
                              ? pEngine->MaxDelaySamples() * 1000.0 / pEngine->m_nSampleRate.load()
                              : 1000.0;
    const double dChosen =
        AskNumber(m_pWindow, QStringLiteral("Delay"),
                  QStringLiteral("Delay of the measurement (ms):"), m_dDelayMs, -50.0, dMaxMs, 2);
    if (!std::isnan(dChosen)) {
        SetDelayMs(dChosen);
    }
}

// Everything chosen, to the view and the running engine.
void CTransferCommands::Push() {
    const bool bOn = IsOn();
    m_pView->SetTransferMode(bOn);
    m_pView->SetCoherenceThreshold(Threshold());
    m_pView->SetTransferDelayMs(m_dDelayMs);
    CCaptureEngine* pEngine = m_fnEngine();
    m_pActionFind->setEnabled(bOn && pEngine != nullptr);
    if (pEngine == nullptr) {
        return;
    }
    pEngine->m_nReferenceChannel = IsReferenceRight() ? 1 : 0;
    pEngine->m_transfer.SetAveragingSeconds(AveragingSeconds());
    pEngine->m_transfer.SetSmoothing(Smoothing());
    if (bOn && pEngine->m_bTransfer.exchange(1) == 0) {
        pEngine->m_transfer.Reset(); // the averages begin with the mode
    }
    if (!bOn) {
        pEngine->m_bTransfer = 0;
    }
}
