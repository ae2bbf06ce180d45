#include "app/GeneratorPanel.h"

#include "app/RunSetup.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

struct SSignalEntry {
    ESignal eSignal;
    const char* pszName;
};

constexpr SSignalEntry kSignals[] = {{ESignal::PinkNoise, "Pink noise"},
                                     {ESignal::WhiteNoise, "White noise"},
                                     {ESignal::PeriodicPinkNoise, "Periodic pink noise"},
                                     {ESignal::Sine, "Sine"},
                                     {ESignal::LogSweep, "Log sweep"}};

// Channel bits by list entry: Both, Left, Right.
constexpr int kChannelBits[] = {3, 1, 2};
constexpr const char* kChannelNames[] = {"Both", "Left", "Right"};

QDoubleSpinBox* MakeSpin(double dLow, double dHigh, double dValue, int nDecimals,
                         const QString& strSuffix) {
    auto* pSpin = new QDoubleSpinBox;
    pSpin->setRange(dLow, dHigh);
    pSpin->setDecimals(nDecimals);
    pSpin->setValue(dValue);
    pSpin->setSuffix(strSuffix);
    pSpin->setKeyboardTracking(false);
    return pSpin;
}

QString Number(double d, int nDecimals) {
    return QString::number(d, 'f', nDecimals);
}

} // namespace

CGeneratorPanel::CGeneratorPanel(QWidget* pParent, RunFormatFn fnRunFormat,
                                 ListOutputsFn fnListOutputs)
    : QDialog(pParent), m_fnRunFormat(std::move(fnRunFormat)),
      m_fnListOutputs(std::move(fnListOutputs)) {
    setWindowTitle(QStringLiteral("Signal generator"));
    setModal(false);
    Build();
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &CGeneratorPanel::Poll);
    UpdateRanges(m_fnRunFormat().first);
    OnSignalChanged();
    ShowState();
}

CGeneratorPanel::~CGeneratorPanel() {
    Shutdown();
}

void CGeneratorPanel::Build() {
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout;
    m_pSignal = new QComboBox;
    for (const SSignalEntry& entry : kSignals)
        m_pSignal->addItem(QString::fromLatin1(entry.pszName));
    pForm->addRow(QStringLiteral("Signal"), m_pSignal);
    m_pFrequency = MakeSpin(kMinToneHz, 22050.0, 1000.0, 1, QStringLiteral(" Hz"));
    pForm->addRow(QStringLiteral("Frequency"), m_pFrequency);
    m_pSweepStart = MakeSpin(kMinToneHz, 22050.0, 20.0, 1, QStringLiteral(" Hz"));
    m_pSweepEnd = MakeSpin(kMinToneHz, 22050.0, 20000.0, 1, QStringLiteral(" Hz"));
    m_pSweepSeconds = MakeSpin(kMinSweepSeconds, kMaxSweepSeconds, 10.0, 1, QStringLiteral(" s"));
    pForm->addRow(QStringLiteral("Sweep from"), m_pSweepStart);
    pForm->addRow(QStringLiteral("Sweep to"), m_pSweepEnd);
    pForm->addRow(QStringLiteral("Sweep duration"), m_pSweepSeconds);
    m_pLevel =
        MakeSpin(CSignalGenerator::kMinLevelDbfs, 0.0, -20.0, 1, QStringLiteral(" dBFS RMS"));
    m_pLevel->setSingleStep(1.0);
    pForm->addRow(QStringLiteral("Level"), m_pLevel);
    m_pOutput = new QComboBox;
    m_pOutput->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pForm->addRow(QStringLiteral("Output"), m_pOutput);
    m_pChannels = new QComboBox;
    for (const char* pszName : kChannelNames)
        m_pChannels->addItem(QString::fromLatin1(pszName));
    pForm->addRow(QStringLiteral("Channels"), m_pChannels);
    pLayout->addLayout(pForm);

    auto* pButtons = new QHBoxLayout;
    m_pPlay = new QPushButton(QStringLiteral("&Play"));
    m_pStop = new QPushButton(QStringLiteral("Stop"));
    m_pPlay->setAutoDefault(false);
    m_pStop->setAutoDefault(false);
    pButtons->addWidget(m_pPlay);
    pButtons->addWidget(m_pStop);
    pButtons->addStretch();
    pLayout->addLayout(pButtons);
    m_pStatus = new QLabel;
    m_pStatus->setWordWrap(true);
    m_pStatus->setMinimumWidth(280);
    pLayout->addWidget(m_pStatus);

    connect(m_pSignal, &QComboBox::activated, this, &CGeneratorPanel::OnSignalChanged);
    connect(m_pChannels, &QComboBox::activated, this, &CGeneratorPanel::OnSettingChanged);
    for (QDoubleSpinBox* pSpin :
         {m_pLevel, m_pFrequency, m_pSweepStart, m_pSweepEnd, m_pSweepSeconds})
        connect(pSpin, &QDoubleSpinBox::valueChanged, this, &CGeneratorPanel::OnSettingChanged);
    connect(m_pPlay, &QPushButton::clicked, this, &CGeneratorPanel::OnPlay);
    connect(m_pStop, &QPushButton::clicked, this, &CGeneratorPanel::OnStop);
}

SGeneratorSettings CGeneratorPanel::Settings() const {
    SGeneratorSettings settings;
    settings.eSignal = kSignals[std::max(m_pSignal->currentIndex(), 0)].eSignal;
    settings.dLevelDbfs = m_pLevel->value();
    settings.dSineHz = m_pFrequency->value();
    settings.dSweepStartHz = m_pSweepStart->value();
    settings.dSweepEndHz = m_pSweepEnd->value();
    settings.dSweepSeconds = m_pSweepSeconds->value();
    settings.nChannels = kChannelBits[std::max(m_pChannels->currentIndex(), 0)];
    return settings;
}

QString CGeneratorPanel::SignalName() const {
    return m_pSignal->currentText();
}

std::vector<std::pair<QString, QString>> CGeneratorPanel::FileComments() const {
    if (!IsPlaying())
        return {};
    const SGeneratorSettings& s = m_player.Settings();
    std::vector<std::pair<QString, QString>> lines;
    lines.emplace_back(QStringLiteral("Generator"),
                       QStringLiteral("%1, %2 dBFS RMS, %3")
                           .arg(QString::fromLatin1(kSignals[int(s.eSignal)].pszName),
                                Number(s.dLevelDbfs, 1),
                                QString::fromLatin1(kChannelNames[s.nChannels == 3   ? 0
                                                                  : s.nChannels == 1 ? 1
                                                                                     : 2])));
    if (s.eSignal == ESignal::Sine)
        lines.emplace_back(QStringLiteral("Generator frequency (Hz)"), Number(s.dSineHz, 1));
    if (s.eSignal == ESignal::LogSweep) {
        lines.emplace_back(QStringLiteral("Generator sweep (Hz)"), Number(s.dSweepStartHz, 1) +
                                                                       QStringLiteral(" to ") +
                                                                       Number(s.dSweepEndHz, 1));
        lines.emplace_back(QStringLiteral("Generator sweep duration (s)"),
                           Number(s.dSweepSeconds, 1));
    }
    return lines;
}

// The tones reach up to half the rate; the level to the most the signal
// takes unclipped.
void CGeneratorPanel::UpdateRanges(int nSampleRate) {
    const double dTopHz = nSampleRate / 2.0;
    for (QDoubleSpinBox* pSpin : {m_pFrequency, m_pSweepStart, m_pSweepEnd})
        pSpin->setMaximum(dTopHz);
}

void CGeneratorPanel::OnSignalChanged() {
    const ESignal eSignal = Settings().eSignal;
    const bool bSweep = eSignal == ESignal::LogSweep;
    auto* pForm = static_cast<QFormLayout*>(layout()->itemAt(0)->layout());
    pForm->setRowVisible(m_pFrequency, eSignal == ESignal::Sine);
    pForm->setRowVisible(m_pSweepStart, bSweep);
    pForm->setRowVisible(m_pSweepEnd, bSweep);
    pForm->setRowVisible(m_pSweepSeconds, bSweep);
    m_pLevel->setMaximum(CSignalGenerator::MaxLevelDbfs(eSignal));
    OnSettingChanged();
}

void CGeneratorPanel::OnSettingChanged() {
    if (IsPlaying())
        m_player.Change(Settings());
}

void CGeneratorPanel::RefreshOutputs() {
    if (m_player.State() != CGeneratorPlayer::EState::Stopped &&
        m_player.State() != CGeneratorPlayer::EState::Failed)
        return;
    const QString strChosen = m_pOutput->currentText();
    m_outputs = m_fnListOutputs();
    m_pOutput->clear();
    for (const SPlaybackOutput& output : m_outputs)
        m_pOutput->addItem(QString::fromStdString(output.description));
    if (const int nIndex = m_pOutput->findText(strChosen); nIndex >= 0)
        m_pOutput->setCurrentIndex(nIndex);
    ShowState();
}

void CGeneratorPanel::OnPlay() {
    if (IsPlaying())
        return;
    const auto [nRate, nSize] = m_fnRunFormat();
    const int nIndex = m_pOutput->currentIndex();
    const SPlaybackOutput output = nIndex >= 0 && nIndex < int(m_outputs.size())
                                       ? m_outputs[size_t(nIndex)]
                                       : SPlaybackOutput{};
    UpdateRanges(nRate);
    m_strFailure.clear();
    const int nResult = m_player.Play(output, nRate, nSize, Settings());
    if (nResult < 0)
        m_strFailure = QStringLiteral("Sorry!\nBut I couldn't open the output.\n") +
                       OpenFailureReason(nResult, nRate);
    else
        m_poll.start();
    ShowState();
}

void CGeneratorPanel::OnStop() {
    m_player.Stop();
    ShowState();
}

void CGeneratorPanel::Shutdown() {
    m_poll.stop();
    m_player.Shutdown();
}

void CGeneratorPanel::Poll() {
    const CGeneratorPlayer::EState eBefore = m_player.State();
    const CGeneratorPlayer::EState eState = m_player.Poll();
    if (eState == CGeneratorPlayer::EState::Failed && eBefore != eState)
        m_strFailure = QStringLiteral("Sorry!\nBut the output went away: the sound server "
                                      "ended or the device was removed.");
    if (eState == CGeneratorPlayer::EState::Stopped || eState == CGeneratorPlayer::EState::Failed)
        m_poll.stop();
    ShowState();
}

// The buttons follow the state; the status says what is playing, or why
// nothing is, and how often the stream ran dry.
void CGeneratorPanel::ShowState() {
    const CGeneratorPlayer::EState eState = m_player.State();
    const bool bIdle =
        eState == CGeneratorPlayer::EState::Stopped || eState == CGeneratorPlayer::EState::Failed;
    m_pPlay->setEnabled(bIdle && m_pOutput->count() > 0);
    m_pStop->setEnabled(eState == CGeneratorPlayer::EState::Playing);
    m_pOutput->setEnabled(bIdle);
    QString strStatus;
    if (!m_strFailure.isEmpty())
        strStatus = m_strFailure;
    else if (eState == CGeneratorPlayer::EState::Playing)
        strStatus = QStringLiteral("Playing at %1 Hz, output latency %2 ms.")
                        .arg(m_player.SampleRate())
                        .arg(std::lround(1000.0 * m_player.LatencySeconds()));
    else if (eState == CGeneratorPlayer::EState::Stopping)
        strStatus = QStringLiteral("Fading out\u2026");
    else if (m_pOutput->count() == 0)
        strStatus = QStringLiteral("There is no output to play through.");
    else
        strStatus = QStringLiteral("Stopped.");
    if (const long long n = m_player.Underruns(); n > 0)
        strStatus += QStringLiteral("\nThe generator could not keep up ") +
                     (n == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(n));
    m_pStatus->setText(strStatus);
}

void CGeneratorPanel::showEvent(QShowEvent* pEvent) {
    RefreshOutputs();
    QDialog::showEvent(pEvent);
}

void CGeneratorPanel::closeEvent(QCloseEvent* pEvent) {
    OnStop();
    QDialog::closeEvent(pEvent);
}

// Escape closes the panel like its title bar's button: the sound fades out.
void CGeneratorPanel::reject() {
    OnStop();
    QDialog::reject();
}
