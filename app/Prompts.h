#pragma once

#include <QMessageBox>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

// Every message box, every address the program opens and every file dialog
// goes through these functions, so that tests can answer the boxes, see the
// addresses and choose the files.

// Shows a modal message box without an icon and returns the button chosen.
QMessageBox::StandardButton ShowMessageBox(QWidget* pOwner, const QString& strCaption,
                                           const QString& strText,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// Asks the desktop to open the address (a browser for web and file pages).
// When it cannot, because nothing can open it (no xdg-open, no browser) or
// xdg-open gives up, the user is told so in a message owned by pOwner that
// gives the address, so that it can be opened by hand. xdg-open's answer
// comes later: the message may follow once this has returned.
void OpenUrl(QWidget* pOwner, const QUrl& url);

// Asks where to save a file: the path chosen, or empty when the user cancels.
// strSuggested is the folder and name offered.
QString AskSaveFileName(QWidget* pOwner, const QString& strCaption, const QString& strSuggested,
                        const QString& strFilter);

// Asks which file to open: the path chosen, or empty when the user cancels.
QString AskOpenFileName(QWidget* pOwner, const QString& strCaption, const QString& strFolder,
                        const QString& strFilter);

// Asks for a number from dMin to dMax with nDecimals decimals, dValue
// offered: the number chosen, or NaN when the user cancels.
double AskNumber(QWidget* pOwner, const QString& strCaption, const QString& strLabel, double dValue,
                 double dMin, double dMax, int nDecimals);

// What a test puts in place of the real box: receives owner, caption, text and
// buttons and returns the button "chosen". Null restores the real box.
using MessageBoxHook = std::function<QMessageBox::StandardButton(
    QWidget*, const QString&, const QString&, QMessageBox::StandardButtons)>;
using OpenUrlHook = std::function<void(const QUrl&)>;
// Receives caption, suggested path and filter; returns the path "chosen".
using SaveFileHook = std::function<QString(const QString&, const QString&, const QString&)>;

void SetMessageBoxHook(MessageBoxHook hook);
void SetOpenUrlHook(OpenUrlHook hook);
void SetSaveFileHook(SaveFileHook hook);
// Receives caption, folder and filter; returns the path "chosen".
using OpenFileHook = SaveFileHook;
void SetOpenFileHook(OpenFileHook hook);
// Receives caption, the number offered and the range; returns the number
// "chosen" (NaN: cancelled).
using AskNumberHook = std::function<double(const QString&, double, double, double)>;
void SetAskNumberHook(AskNumberHook hook);
