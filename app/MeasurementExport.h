#pragma once

#include <QObject>
#include <QString>

#include <functional>

class CSpectrumView;
class QAction;
class QIODevice;
class QWidget;
struct SSpectrumSnapshot;

// Writes a file at once or not at all: the data goes to a temporary file that
// replaces the old one only when whole. False, and why in *pError, otherwise.
bool WriteFileAtomically(const QString& strPath, const std::function<bool(QIODevice&)>& fnWrite,
                         QString* pError);

// Keeping a measurement while running: the spectrum as CSV, the picture shown
// as PNG, the picture to the clipboard. The commands are enabled only while
// a capture runs; their shortcuts work anywhere in the window. The file
// dialog offers a name with the date and time, in the folder saved to last
// during this run.
class CMeasurementExport : public QObject {
    Q_OBJECT
public:
    // The spectrum of the pass shown now, with what the file says of the run.
    using TakeSnapshotFn = std::function<SSpectrumSnapshot()>;

    CMeasurementExport(QWidget* pWindow, CSpectrumView* pView, TakeSnapshotFn fnTakeSnapshot);

    QAction* SaveSpectrumAction() const { return m_pActionSaveSpectrum; }
    QAction* SavePictureAction() const { return m_pActionSavePicture; }
    QAction* CopyPictureAction() const { return m_pActionCopyPicture; }
    QAction* SaveFrdAction() const { return m_pActionSaveFrd; }

    void SetRunning(bool bRunning);

    void OnSaveSpectrum();
    // The transfer function shown, as an FRD file (transfer-function mode only).
    void OnSaveFrd();
    void OnSavePicture();
    void OnCopyPicture();

private:
    QString AskExportPath(const QString& strCaption, const QString& strExtension,
                          const QString& strFilter);
    void SayNotSaved(const QString& strWhat, const QString& strPath, const QString& strError);

    QWidget* m_pWindow;
    CSpectrumView* m_pView;
    TakeSnapshotFn m_fnTakeSnapshot;
    bool m_bRunning = false;
    QAction* m_pActionSaveSpectrum;
    QAction* m_pActionSavePicture;
    QAction* m_pActionCopyPicture;
    QAction* m_pActionSaveFrd;
    // Where the last file was saved, for the next file dialog of this run.
    QString m_strExportFolder;
};
