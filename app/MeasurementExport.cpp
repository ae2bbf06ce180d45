#include "app/MeasurementExport.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>
#include <QWidget>

#include "app/Prompts.h"
#include "app/RunCommand.h"
#include "app/SpectrumCsv.h"
#include "view/SpectrumView.h"

bool WriteFileAtomically(const QString& strPath, const std::function<bool(QIODevice&)>& fnWrite,
                         QString* pError) {
    QSaveFile file(strPath);
    if (file.open(QIODevice::WriteOnly) && fnWrite(file) && file.commit())
        return true;
    // A writer that failed on its own says why through the file's error, or
    // leaves a reason of its own in *pError.
    if (file.error() != QFileDevice::NoError || pError->isEmpty())
        *pError = file.errorString();
    file.cancelWriting();
    return false;
}

CMeasurementExport::CMeasurementExport(QWidget* pWindow, CSpectrumView* pView,
                                       TakeSnapshotFn fnTakeSnapshot)
    : m_pWindow(pWindow), m_pView(pView), m_fnTakeSnapshot(std::move(fnTakeSnapshot)),
      m_pActionSaveSpectrum(MakeRunCommand(m_pWindow, QStringLiteral("Save spectrum as CSV\u2026"),
                                           QKeySequence(Qt::CTRL | Qt::Key_S))),
      m_pActionSavePicture(MakeRunCommand(m_pWindow, QStringLiteral("Save picture\u2026"),
                                          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S))),
      m_pActionCopyPicture(MakeRunCommand(m_pWindow, QStringLiteral("Copy picture"),
                                          QKeySequence(Qt::CTRL | Qt::Key_C))),
      m_pActionSaveFrd(MakeRunCommand(m_pWindow, QStringLiteral("Save as FRD\u2026"), {})),
      m_strExportFolder(QDir::homePath()) {
    connect(m_pActionSaveSpectrum, &QAction::triggered, this, &CMeasurementExport::OnSaveSpectrum);
    connect(m_pActionSavePicture, &QAction::triggered, this, &CMeasurementExport::OnSavePicture);
    connect(m_pActionCopyPicture, &QAction::triggered, this, &CMeasurementExport::OnCopyPicture);
    connect(m_pActionSaveFrd, &QAction::triggered, this, &CMeasurementExport::OnSaveFrd);
}

void CMeasurementExport::SetRunning(bool bRunning) {
    m_bRunning = bRunning;
    EnableRunCommands(
        {m_pActionSaveSpectrum, m_pActionSavePicture, m_pActionCopyPicture, m_pActionSaveFrd},
        bRunning);
}

// Asks where to save, offering a name with the date and time in the folder
// saved to last during this run; the path chosen (and its folder kept for
// the next time), or empty.
QString CMeasurementExport::AskExportPath(const QString& strCaption, const QString& strExtension,
                                          const QString& strFilter) {
    const QString strName =
        QStringLiteral("vemra2-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + u'.' +
        strExtension;
    const QString strPath = AskSaveFileName(m_pWindow, strCaption,
                                            QDir(m_strExportFolder).filePath(strName), strFilter);
    if (!strPath.isEmpty())
        m_strExportFolder = QFileInfo(strPath).absolutePath();
    return strPath;
}

void CMeasurementExport::SayNotSaved(const QString& strWhat, const QString& strPath,
                                     const QString& strError) {
    ShowMessageBox(m_pWindow, QCoreApplication::applicationName(),
                   QStringLiteral("Sorry!\nBut I couldn't save the %1 to %2.\n%3")
                       .arg(strWhat, strPath, strError));
}

// The data of the pass shown when the command was given, before the file
// dialog: the analysis goes on while it is open.
void CMeasurementExport::OnSaveSpectrum() {
    if (!m_bRunning)
        return;
    const SSpectrumSnapshot snapshot = m_fnTakeSnapshot();
    const QString strPath =
        AskExportPath(QStringLiteral("Save spectrum as CSV"), QStringLiteral("csv"),
                      QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (strPath.isEmpty())
        return;
    const QByteArray data = CSpectrumCsv::Format(snapshot);
    QString strError;
    const auto write = [&data](QIODevice& file) { return file.write(data) == data.size(); };
    if (!WriteFileAtomically(strPath, write, &strError))
        SayNotSaved(QStringLiteral("spectrum"), strPath, strError);
}

void CMeasurementExport::OnSaveFrd() {
    if (!m_bRunning)
        return;
    const SSpectrumSnapshot snapshot = m_fnTakeSnapshot();
    if (!snapshot.bTransfer) {
        ShowMessageBox(m_pWindow, QCoreApplication::applicationName(),
                       QStringLiteral("There is no transfer function to save yet.\nSwitch on "
                                      "\"Transfer function\" and let it average first."));
        return;
    }
    const QString strPath =
        AskExportPath(QStringLiteral("Save as FRD"), QStringLiteral("frd"),
                      QStringLiteral("FRD files (*.frd);;Text files (*.txt);;All files (*)"));
    if (strPath.isEmpty())
        return;
    const QByteArray data = CSpectrumCsv::FormatFrd(snapshot);
    QString strError;
    const auto write = [&data](QIODevice& file) { return file.write(data) == data.size(); };
    if (!WriteFileAtomically(strPath, write, &strError))
        SayNotSaved(QStringLiteral("transfer function"), strPath, strError);
}

// The picture handed to the window, at the screen's resolution.
void CMeasurementExport::OnSavePicture() {
    if (!m_bRunning)
        return;
    const QImage picture = m_pView->FrontImage();
    const QString strPath = AskExportPath(QStringLiteral("Save picture"), QStringLiteral("png"),
                                          QStringLiteral("PNG pictures (*.png);;All files (*)"));
    if (strPath.isEmpty())
        return;
    QString strError;
    const auto write = [&picture, &strError](QIODevice& file) {
        QImageWriter writer(&file, "png");
        if (writer.write(picture))
            return true;
        strError = writer.errorString();
        return false;
    };
    if (!WriteFileAtomically(strPath, write, &strError))
        SayNotSaved(QStringLiteral("picture"), strPath, strError);
}

void CMeasurementExport::OnCopyPicture() {
    if (!m_bRunning)
        return;
    QGuiApplication::clipboard()->setImage(m_pView->FrontImage());
}
