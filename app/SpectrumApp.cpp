#include "app/SpectrumApp.h"

#include <QDialog>
#include <QEventLoop>

#include "app/AppIcon.h"

#include "app/AnalyzerDialog.h"
#include "app/HelpPageConfig.h"
#include "app/SelfTestDriver.h"

CSpectrumApp::CSpectrumApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The message boxes' caption is the application name, which Qt takes
    // from the executable's file name.
    setWindowIcon(AppIcon());
    setDesktopFileName(QString::fromUtf8(kAppId));
}

CSpectrumApp::~CSpectrumApp() = default;

bool CSpectrumApp::InitInstance() {
    CAnalyzerDialog dlg;
    CSelfTestDriver driver(&dlg);
    driver.StartIfRequested();
    RunMainWindow(dlg);
    return false;
}

void CSpectrumApp::RunMainWindow(QDialog& dlg) {
    QEventLoop loop;
    connect(&dlg, &QDialog::finished, &loop, &QEventLoop::quit);
    dlg.show();
    loop.exec();
}
