#include <QApplication>
#include <QLabel>

// Stand-in until the analyser's main window is built: a window that says so.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Vemra-2: the analyser is being built."));
    label.setWindowTitle(QStringLiteral("Vemra-2 by Tave"));
    label.setMargin(40);
    label.show();
    return app.exec();
}
