#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <functional>
#include <utility>
#include <vector>

#include "devices/generator/GeneratorPlayer.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QWidget;

// "Signal generator…": a window of its own beside the analyser's, usable
// whether it runs or not. Signal, level, output and channels; Play and Stop.
// A change while playing is heard at once, with its fade; the output is
// chosen while stopped. Failures and underruns are said in the panel itself.
// Closing the panel stops the sound; nothing is stored between runs.
class CGeneratorPanel : public QDialog {
    Q_OBJECT
public:
    // The analyser's chosen rate and transform size: the stream's rate and
    // the periodic noise's period.
    using RunFormatFn = std::function<std::pair<int, int>()>;
    // The outputs to offer (the tests give their own).
    using ListOutputsFn = std::function<std::vector<SPlaybackOutput>()>;

    static constexpr int kPollMs = 50;
    static constexpr double kMinToneHz = 10.0;
    static constexpr double kMinSweepSeconds = 1.0;
    static constexpr double kMaxSweepSeconds = 60.0;

    CGeneratorPanel(QWidget* pParent, RunFormatFn fnRunFormat,
                    ListOutputsFn fnListOutputs = &CGeneratorPlayer::ListOutputs);
    ~CGeneratorPanel() override;

    QComboBox* SignalList() const { return m_pSignal; }
    QDoubleSpinBox* LevelSpin() const { return m_pLevel; }
    QDoubleSpinBox* FrequencySpin() const { return m_pFrequency; }
    QDoubleSpinBox* SweepStartSpin() const { return m_pSweepStart; }
    QDoubleSpinBox* SweepEndSpin() const { return m_pSweepEnd; }
    QDoubleSpinBox* SweepSecondsSpin() const { return m_pSweepSeconds; }
    QComboBox* OutputList() const { return m_pOutput; }
    QComboBox* ChannelList() const { return m_pChannels; }
    QPushButton* PlayButton() const { return m_pPlay; }
    QPushButton* StopButton() const { return m_pStop; }
    QLabel* StatusLabel() const { return m_pStatus; }
    const CGeneratorPlayer& Player() const { return m_player; }

    bool IsPlaying() const { return m_player.State() == CGeneratorPlayer::EState::Playing; }
    SGeneratorSettings Settings() const;
    // What a saved file says of the generator while it plays: "Generator"
    // with the signal, level and channels, and the tone's or the sweep's
    // frequencies where they apply; none while it does not play.
    std::vector<std::pair<QString, QString>> FileComments() const;

    void OnPlay();
    void OnStop();
    // For the end of the program: the sound fades out before anything closes.
    void Shutdown();
    // Lists the outputs again (while stopped).
    void RefreshOutputs();

protected:
    void showEvent(QShowEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;
    void reject() override;

private:
    void Build();
    void OnSignalChanged();
    void OnSettingChanged();
    void Poll();
    void ShowState();
    void UpdateRanges(int nSampleRate);
    QString SignalName() const;

    RunFormatFn m_fnRunFormat;
    ListOutputsFn m_fnListOutputs;
    CGeneratorPlayer m_player;
    std::vector<SPlaybackOutput> m_outputs;
    QTimer m_poll;
    QString m_strFailure;

    QComboBox* m_pSignal = nullptr;
    QDoubleSpinBox* m_pLevel = nullptr;
    QDoubleSpinBox* m_pFrequency = nullptr;
    QDoubleSpinBox* m_pSweepStart = nullptr;
    QDoubleSpinBox* m_pSweepEnd = nullptr;
    QDoubleSpinBox* m_pSweepSeconds = nullptr;
    QWidget* m_pToneRow = nullptr;
    QWidget* m_pSweepRows = nullptr;
    QComboBox* m_pOutput = nullptr;
    QComboBox* m_pChannels = nullptr;
    QPushButton* m_pPlay = nullptr;
    QPushButton* m_pStop = nullptr;
    QLabel* m_pStatus = nullptr;
};
