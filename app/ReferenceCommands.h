#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "analysis/ReferenceSpectrum.h"

class CSpectrumView;
class QAction;
class QWidget;

// Comparing with a reference: the left channel's spectrum kept as it is now,
// or one loaded from a file "Save spectrum as CSV…" wrote, drawn by the view
// as a line over the live bars. The reference lasts for the program's run,
// over Stop and Start and any rate and size; nothing of it is stored. The
// commands act on a running analysis, like the export's.
class CReferenceCommands : public QObject {
    Q_OBJECT
public:
    // The left channel's averaged power spectrum as the bars show it now,
    // with the source given.
    using TakeSpectrumFn = std::function<CReferenceSpectrum(std::string strSource)>;

    CReferenceCommands(QWidget* pWindow, CSpectrumView* pView, TakeSpectrumFn fnTakeSpectrum);

    QAction* KeepAction() const { return m_pActionKeep; }
    QAction* LoadAction() const { return m_pActionLoad; }
    QAction* ClearAction() const { return m_pActionClear; }
    // The reference shown, or null.
    std::shared_ptr<const CReferenceSpectrum> Reference() const { return m_pReference; }

    void SetRunning(bool bRunning);

    void OnKeepReference();
    void OnLoadReference();
    void OnClearReference();

signals:
    // A reference was kept or loaded (true), or cleared.
    void ReferenceChanged(bool bKept);

private:
    void Show(std::shared_ptr<const CReferenceSpectrum> pReference);

    QWidget* m_pWindow;
    CSpectrumView* m_pView;
    TakeSpectrumFn m_fnTakeSpectrum;
    bool m_bRunning = false;
    QAction* m_pActionKeep;
    QAction* m_pActionLoad;
    QAction* m_pActionClear;
    std::shared_ptr<const CReferenceSpectrum> m_pReference;
    // Where the last reference was loaded from, for the next file dialog.
    QString m_strFolder;
};
