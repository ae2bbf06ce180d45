#include "app/Prompts.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>

namespace {

MessageBoxHook& MessageBoxOverride() {
    static MessageBoxHook s_hook;
    return s_hook;
}

OpenUrlHook& OpenUrlOverride() {
    static OpenUrlHook s_hook;
    return s_hook;
}

SaveFileHook& SaveFileOverride() {
    static SaveFileHook s_hook;
    return s_hook;
}

OpenFileHook& OpenFileOverride() {
    static OpenFileHook s_hook;
    return s_hook;
}

AskNumberHook& AskNumberOverride() {
    static AskNumberHook s_hook;
    return s_hook;
}

} // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* pOwner, const QString& strCaption,
                                           const QString& strText,
                                           QMessageBox::StandardButtons buttons) {
    if (MessageBoxOverride())
        return MessageBoxOverride()(pOwner, strCaption, strText, buttons);
    QMessageBox box(QMessageBox::NoIcon, strCaption, strText, buttons, pOwner);
    // A path or a reason can be copied from the box.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    return QMessageBox::StandardButton(box.exec());
}

namespace {

void SayNotOpened(QWidget* pOwner, const QUrl& url, const QString& strWhy) {
    const QString strWhere = url.isLocalFile() ? url.toLocalFile() : url.toString();
    ShowMessageBox(pOwner, QCoreApplication::applicationName(),
                   QStringLiteral("Sorry!\nBut I couldn't open the page.\n%1\nYou can open it in "
                                  "a web browser yourself:\n%2")
                       .arg(strWhy, strWhere));
}

// What xdg-open's exit code says went wrong.
QString XdgOpenFailure(int nExitCode) {
    switch (nExitCode) {
    case 2:
        return QStringLiteral("The page does not exist.");
    case 3:
        return QStringLiteral("xdg-open found no web browser to open it with.");
    case 4:
        return QStringLiteral("xdg-open could not open it.");
    default:
        return QStringLiteral("xdg-open ended with code %1.").arg(nExitCode);
    }
}

// xdg-open runs the browser, and may wait for it to end: the process is
// watched, never waited for, and not killed when the program ends (it has no
// parent). What it prints goes to the terminal, as it would from a shell.
void OpenWithXdgOpen(QWidget* pOwner, const QString& strXdgOpen, const QUrl& url) {
    auto* pProcess = new QProcess;
    pProcess->setProcessChannelMode(QProcess::ForwardedChannels);
    const QPointer<QWidget> owner(pOwner);
    QObject::connect(pProcess, &QProcess::finished, pProcess,
                     [pProcess, owner, url](int nExitCode, QProcess::ExitStatus status) {
                         pProcess->deleteLater();
                         if (status == QProcess::NormalExit && nExitCode != 0)
                             SayNotOpened(owner, url, XdgOpenFailure(nExitCode));
                     });
    QObject::connect(pProcess, &QProcess::errorOccurred, pProcess,
                     [pProcess, owner, url](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         pProcess->deleteLater();
                         SayNotOpened(owner, url,
                                      QStringLiteral("xdg-open could not be started: ") +
                                          pProcess->errorString());
                     });
    pProcess->start(strXdgOpen, {url.toString(QUrl::FullyEncoded)});
}

} // namespace

void OpenUrl(QWidget* pOwner, const QUrl& url) {
    if (OpenUrlOverride()) {
        OpenUrlOverride()(url);
        return;
    }
    const QString strXdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!strXdgOpen.isEmpty())
        OpenWithXdgOpen(pOwner, strXdgOpen, url);
    else if (!QDesktopServices::openUrl(url))
        SayNotOpened(pOwner, url,
                     QStringLiteral("This desktop has no program to open it with (xdg-open)."));
}

void SetMessageBoxHook(MessageBoxHook hook) {
    MessageBoxOverride() = std::move(hook);
}

void SetOpenUrlHook(OpenUrlHook hook) {
    OpenUrlOverride() = std::move(hook);
}

QString AskSaveFileName(QWidget* pOwner, const QString& strCaption, const QString& strSuggested,
                        const QString& strFilter) {
    if (SaveFileOverride())
        return SaveFileOverride()(strCaption, strSuggested, strFilter);
    return QFileDialog::getSaveFileName(pOwner, strCaption, strSuggested, strFilter);
}

void SetSaveFileHook(SaveFileHook hook) {
    SaveFileOverride() = std::move(hook);
}

QString AskOpenFileName(QWidget* pOwner, const QString& strCaption, const QString& strFolder,
                        const QString& strFilter) {
    if (OpenFileOverride())
        return OpenFileOverride()(strCaption, strFolder, strFilter);
    return QFileDialog::getOpenFileName(pOwner, strCaption, strFolder, strFilter);
}

void SetOpenFileHook(OpenFileHook hook) {
    OpenFileOverride() = std::move(hook);
}

double AskNumber(QWidget* pOwner, const QString& strCaption, const QString& strLabel, double dValue,
                 double dMin, double dMax, int nDecimals) {
    if (AskNumberOverride())
        return AskNumberOverride()(strCaption, dValue, dMin, dMax);
    bool bOk = false;
    const double dChosen =
        QInputDialog::getDouble(pOwner, strCaption, strLabel, dValue, dMin, dMax, nDecimals, &bOk);
    return bOk ? dChosen : std::nan("");
}

void SetAskNumberHook(AskNumberHook hook) {
    AskNumberOverride() = std::move(hook);
}
