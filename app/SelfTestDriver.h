#pragma once

#include <QObject>
#include <QString>

class CAnalyzerDialog;

// The run script's demonstration, switched on only by the environment the
// script sets (the program itself takes no arguments):
//   VEMRA_SELFTEST_SCREENSHOT=<file.png>  save a picture of the window there
//   VEMRA_SELFTEST_SECONDS=<n>            how long the capture runs (default 4)
// Once the window is up it clicks Start, as a person would, lets the capture
// run, saves the picture and closes the window. Message boxes are answered
// with OK and their texts printed, so that nothing waits for a person.
class CSelfTestDriver : public QObject {
    Q_OBJECT
public:
    explicit CSelfTestDriver(CAnalyzerDialog* pDialog);
    ~CSelfTestDriver() override;

    void StartIfRequested();

private:
    void ClickStart();
    void ChooseByText(int nListId, const QString& strText);
    void SaveAndClose();

    CAnalyzerDialog* m_pDialog;
    QString m_strScreenshot;
    int m_nSeconds = 4;
    int m_nWaitsForDevices = 0;
    static constexpr int kWaitForDevicesMs = 100;
    static constexpr int kMaxWaitsForDevices = 100;
    bool m_bActive = false;
};
