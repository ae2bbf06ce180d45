#pragma once

#include <QApplication>

// The application object: one for the whole run. Its initialisation shows the
// main dialog modally; the program ends when the dialog ends.
class CSpectrumApp : public QApplication {
    Q_OBJECT
public:
    CSpectrumApp(int& argc, char** argv);
    ~CSpectrumApp() override;

    // Runs the main dialog until it ends. Returns false: there is no event
    // loop after it.
    bool InitInstance();
};
