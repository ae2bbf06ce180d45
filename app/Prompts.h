#pragma once

#include <QMessageBox>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

// Every message box and every address the program opens goes through these
// two functions, so that tests can answer the boxes and see the addresses.

// Shows a modal message box without an icon and returns the button chosen.
QMessageBox::StandardButton ShowMessageBox(QWidget* pOwner, const QString& strCaption,
                                           const QString& strText,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// Asks the desktop to open the address (a browser for web and file pages).
// Whether that worked is not examined.
void OpenUrl(const QUrl& url);

// What a test puts in place of the real box: receives owner, caption, text and
// buttons and returns the button "chosen". Null restores the real box.
using MessageBoxHook = std::function<QMessageBox::StandardButton(
    QWidget*, const QString&, const QString&, QMessageBox::StandardButtons)>;
using OpenUrlHook = std::function<void(const QUrl&)>;

void SetMessageBoxHook(MessageBoxHook hook);
void SetOpenUrlHook(OpenUrlHook hook);
