#include "app/CalibrationDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QDoubleSpinBox* LevelSpin(QWidget* pParent, double dValue) {
    auto* pSpin = new QDoubleSpinBox(pParent);
    pSpin->setRange(40.0, 140.0);
    pSpin->setSingleStep(0.1);
    pSpin->setDecimals(1);
    pSpin->setSuffix(QStringLiteral(" dB SPL"));
    pSpin->setValue(dValue);
    return pSpin;
}

EWeighting WeightingAt(int nIndex) {
    return nIndex == 0 ? EWeighting::A : nIndex == 1 ? EWeighting::C : EWeighting::Z;
}

} // namespace

CCalibrationDialog::CCalibrationDialog(QWidget* pParent, SInputs inputs)
    : QDialog(pParent), m_inputs(std::move(inputs)) {
    setWindowTitle(QStringLiteral("Calibrate ") + m_inputs.strDevice);
    auto* pLayout = new QVBoxLayout(this);

    auto* pCalibrator = new QGroupBox(QStringLiteral("With a calibrator"), this);
    auto* pForm = new QFormLayout(pCalibrator);
    m_pLevel = ::LevelSpin(pCalibrator, 94.0);
    m_pFrequency = new QComboBox(pCalibrator);
    m_pFrequency->addItems({QStringLiteral("1000 Hz"), QStringLiteral("250 Hz")});
    m_pMeasure = new QPushButton(QStringLiteral("Measure"), pCalibrator);
    pForm->addRow(QStringLiteral("Level:"), m_pLevel);
    pForm->addRow(QStringLiteral("Frequency:"), m_pFrequency);
    pForm->addRow(m_pMeasure);
    pLayout->addWidget(pCalibrator);

    auto* pMeter = new QGroupBox(QStringLiteral("Set from a meter reading"), this);
    auto* pMeterForm = new QFormLayout(pMeter);
    m_pMeterReading = ::LevelSpin(pMeter, 74.0);
    m_pMeterReading->setRange(0.0, 160.0);
    m_pMeterWeighting = new QComboBox(pMeter);
    m_pMeterWeighting->addItems({QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("Z")});
    m_pSetFromMeter = new QPushButton(QStringLiteral("Set"), pMeter);
    pMeterForm->addRow(QStringLiteral("The meter reads:"), m_pMeterReading);
    pMeterForm->addRow(QStringLiteral("Its weighting:"), m_pMeterWeighting);
    pMeterForm->addRow(m_pSetFromMeter);
    pLayout->addWidget(pMeter);

    m_pMic = new QLabel(this);
    pLayout->addWidget(m_pMic);
    ShowMicrophone();
    m_pStatus = new QLabel(this);
    m_pStatus->setWordWrap(true);
    pLayout->addWidget(m_pStatus);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    pLayout->addWidget(pButtons);

    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pMeasure, &QPushButton::clicked, this, &CCalibrationDialog::OnMeasure);
    connect(m_pSetFromMeter, &QPushButton::clicked, this, &CCalibrationDialog::OnSetFromMeter);
    connect(&m_timer, &QTimer::timeout, this, &CCalibrationDialog::TakeReading);
}

void CCalibrationDialog::ShowMicrophone() {
    const CMicResponse* pMic = m_inputs.pMic.get();
    m_pMic->setVisible(pMic != nullptr);
    if (pMic == nullptr) {
        return;
    }
    QString strMic =
        QStringLiteral("Microphone response: ") + QString::fromStdString(pMic->m_strFileName);
    if (!pMic->m_strSensFactor.empty()) {
        strMic += QStringLiteral("\n") + QString::fromStdString(pMic->m_strSensFactor) +
                  QStringLiteral(" (shown, not applied)");
    }
    m_pMic->setText(strMic);
}

void CCalibrationDialog::Follow(const QString& strDevice,
                                std::shared_ptr<const CMicResponse> pMic) {
    if (strDevice == m_inputs.strDevice && pMic == m_inputs.pMic) {
        return;
    }
    m_inputs.strDevice = strDevice;
    m_inputs.pMic = std::move(pMic);
    setWindowTitle(QStringLiteral("Calibrate ") + strDevice);
    ShowMicrophone();
    if (IsMeasuring()) {
        m_timer.stop();
        m_run.reset();
        m_pMeasure->setEnabled(true);
        m_pSetFromMeter->setEnabled(true);
        m_pStatus->setText(QStringLiteral("Nothing was stored. The device or the microphone "
                                          "response changed while measuring: measure again."));
        emit Finished(false);
    }
}

double CCalibrationDialog::ToneHz() const {
    return m_pFrequency->currentIndex() == 1 ? 250.0 : 1000.0;
}

void CCalibrationDialog::OnMeasure() {
    if (IsMeasuring()) {
        return;
    }
    const double dMicDb = m_inputs.pMic != nullptr ? m_inputs.pMic->CorrectionDb(ToneHz()) : 0.0;
    m_run.emplace(ToneHz(), m_pLevel->value(), dMicDb);
    m_nFullScaleAtStart = m_inputs.fnFullScalePasses();
    m_nReadingsLeft = (kSettleMs + kMeasureMs) / kReadingMs;
    m_pMeasure->setEnabled(false);
    m_pSetFromMeter->setEnabled(false);
    m_pStatus->setText(QStringLiteral("Measuring for %1 s\u2026").arg(kMeasureMs / 1000));
    m_timer.start(kReadingMs);
}

// The first readings take samples from before Measure was pressed: only
// those of the measuring time count.
void CCalibrationDialog::TakeReading() {
    if (m_nReadingsLeft <= kMeasureMs / kReadingMs) {
        m_run->Add(m_inputs.fnTakeSpectrum());
    }
    if (--m_nReadingsLeft <= 0) {
        EndMeasuring();
    }
}

void CCalibrationDialog::EndMeasuring() {
    m_timer.stop();
    const bool bClipped = m_inputs.fnFullScalePasses() != m_nFullScaleAtStart;
    const SCalibrationResult result = m_run->Finish(bClipped);
    m_run.reset();
    m_pMeasure->setEnabled(true);
    m_pSetFromMeter->setEnabled(true);
    Report(result, QStringLiteral("calibrator %1 dB SPL at %2 Hz, measured %3 dBFS")
                       .arg(m_pLevel->value(), 0, 'f', 1)
                       .arg(ToneHz(), 0, 'f', 0)
                       .arg(result.dMeasuredDbfs, 0, 'f', 2));
}

void CCalibrationDialog::OnSetFromMeter() {
    const EWeighting eWeighting = WeightingAt(m_pMeterWeighting->currentIndex());
    const SCalibrationResult result = CCalibrationRun::FromMeterReading(
        m_inputs.fnTakeSpectrum(), m_pMeterReading->value(), eWeighting, m_inputs.pMic.get());
    const QString strWeighting = QString::fromLatin1(WeightingLetter(eWeighting));
    Report(result, QStringLiteral("meter reading %1 dB(%2) SPL, measured %3 dBFS")
                       .arg(m_pMeterReading->value(), 0, 'f', 1)
                       .arg(strWeighting)
                       .arg(result.dMeasuredDbfs, 0, 'f', 2));
}

void CCalibrationDialog::Report(const SCalibrationResult& result, const QString& strHow) {
    if (!result.bOk) {
        m_pStatus->setText(QStringLiteral("Nothing was stored. ") +
                           QString::fromStdString(result.strWhy));
        emit Finished(false);
        return;
    }
    m_pStatus->setText(QStringLiteral("Measured %1 dBFS. Offset %2 dB: dB SPL = dBFS + %2. "
                                      "Stored for %3.")
                           .arg(result.dMeasuredDbfs, 0, 'f', 2)
                           .arg(result.dFullScaleDbSpl, 0, 'f', 2)
                           .arg(m_inputs.strDevice));
    emit Calibrated(result.dFullScaleDbSpl, strHow);
    emit Finished(true);
}
