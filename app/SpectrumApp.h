#pragma once

#include <QApplication>

class QDialog;

// The application object: one for the whole run. Its initialisation shows the
// main dialog; the program ends when the dialog ends.
class CSpectrumApp : public QApplication {
    Q_OBJECT
public:
    CSpectrumApp(int& argc, char** argv);
    ~CSpectrumApp() override;

    // Runs the main dialog until it ends. Returns false: there is no event
    // loop after it.
    bool InitInstance();

    // Shows the dialog as the program's main window and runs the events until
    // it ends. Not modal: to the desktop it is a normal top-level window, with
    // its taskbar entry, not a dialog holding up some other window.
    static void RunMainWindow(QDialog& dlg);
};
