#include "app/Prompts.h"

#include <QDesktopServices>
#include <QFileDialog>

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

} // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* pOwner, const QString& strCaption,
                                           const QString& strText,
                                           QMessageBox::StandardButtons buttons) {
    if (MessageBoxOverride())
        return MessageBoxOverride()(pOwner, strCaption, strText, buttons);
    QMessageBox box(QMessageBox::NoIcon, strCaption, strText, buttons, pOwner);
    return QMessageBox::StandardButton(box.exec());
}

void OpenUrl(const QUrl& url) {
    if (OpenUrlOverride()) {
        OpenUrlOverride()(url);
        return;
    }
    QDesktopServices::openUrl(url);
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
