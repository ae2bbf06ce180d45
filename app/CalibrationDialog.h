#pragma once

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "analysis/Calibration.h"
#include "analysis/ReferenceSpectrum.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

// "Calibrate…": a calibrator's level and frequency and Measure, which reads
// the running input for three seconds; or a sound level meter's reading of a
// steady signal. A measurement that fails a check stores nothing and says
// which; one that passes says what it measured and hands the calibration on.
class CCalibrationDialog : public QDialog {
    Q_OBJECT
public:
    struct SInputs {
        QString strDevice;
        // The left channel's spectrum now, in the common level; empty while
        // nothing runs.
        std::function<CReferenceSpectrum()> fnTakeSpectrum;
        // Passes so far whose samples reached full scale.
        std::function<long long()> fnFullScalePasses;
        std::shared_ptr<const CMicResponse> pMic;
    };
    static constexpr int kMeasureMs = 3000;
    // Longer than the calibration's spectrum reaches back at any rate.
    static constexpr int kSettleMs = 600;
    static constexpr int kReadingMs = 100;

    CCalibrationDialog(QWidget* pParent, SInputs inputs);

    QDoubleSpinBox* LevelSpin() const { return m_pLevel; }
    QComboBox* FrequencyList() const { return m_pFrequency; }
    QPushButton* MeasureButton() const { return m_pMeasure; }
    QDoubleSpinBox* MeterSpin() const { return m_pMeterReading; }
    QComboBox* MeterWeightingList() const { return m_pMeterWeighting; }
    QPushButton* SetFromMeterButton() const { return m_pSetFromMeter; }
    QLabel* StatusLabel() const { return m_pStatus; }
    bool IsMeasuring() const { return m_run.has_value(); }

    void OnMeasure();
    void OnSetFromMeter();
    // The device and microphone response chosen now: a measurement under way
    // with others is given up, for it would calibrate the wrong ones.
    void Follow(const QString& strDevice, std::shared_ptr<const CMicResponse> pMic);
    QLabel* MicrophoneLabel() const { return m_pMic; }

signals:
    // A calibration passed its checks; strHow says how it was made.
    void Calibrated(double dFullScaleDbSpl, QString strHow);
    // A measurement or a reading ended, with success or not.
    void Finished(bool bOk);

private:
    void TakeReading();
    void ShowMicrophone();
    void EndMeasuring();
    void Report(const SCalibrationResult& result, const QString& strHow);
    double ToneHz() const;

    SInputs m_inputs;
    QDoubleSpinBox* m_pLevel;
    QComboBox* m_pFrequency;
    QPushButton* m_pMeasure;
    QDoubleSpinBox* m_pMeterReading;
    QComboBox* m_pMeterWeighting;
    QPushButton* m_pSetFromMeter;
    QLabel* m_pMic;
    QLabel* m_pStatus;
    QTimer m_timer;
    int m_nReadingsLeft = 0;
    long long m_nFullScaleAtStart = 0;
    std::optional<CCalibrationRun> m_run;
};
