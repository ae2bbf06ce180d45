#pragma once

#include <QObject>

class CSpectrumView;
class QAction;
class QActionGroup;
class QMenu;
class QWidget;

// How the axis and the note readout are labelled: "Note readout" ("As
// designed" or "Cents", with "Reference pitch…" for A4) and "Frequency
// labels" ("As designed" or "Round"). Usable while stopped too; nothing is
// stored.
class CAxisCommands : public QObject {
    Q_OBJECT
public:
    CAxisCommands(QWidget* pWindow, CSpectrumView* pView);

    void AddTo(QMenu* pMenu);

    QMenu* NoteMenu() const { return m_pNoteMenu; }
    QMenu* LabelMenu() const { return m_pLabelMenu; }
    QAction* CentsAction() const { return m_pActionCents; }
    QAction* NotesAsDesignedAction() const { return m_pActionNotesDesigned; }
    QAction* ReferencePitchAction() const { return m_pActionPitch; }
    QAction* RoundLabelsAction() const { return m_pActionRound; }
    QAction* LabelsAsDesignedAction() const { return m_pActionLabelsDesigned; }
    double ReferencePitch() const { return m_dA4Hz; }

    // A4 from 415 to 466 Hz; others are refused.
    bool SetReferencePitch(double dA4Hz);
    void OnReferencePitch();

private:
    void Apply();

    QWidget* m_pWindow;
    CSpectrumView* m_pView;
    QMenu* m_pNoteMenu;
    QMenu* m_pLabelMenu;
    QActionGroup* m_pNoteGroup;
    QActionGroup* m_pLabelGroup;
    QAction* m_pActionNotesDesigned;
    QAction* m_pActionCents;
    QAction* m_pActionPitch;
    QAction* m_pActionLabelsDesigned;
    QAction* m_pActionRound;
    double m_dA4Hz;
};
