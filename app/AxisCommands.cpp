#include "app/AxisCommands.h"

#include "analysis/PitchName.h"
#include "app/Prompts.h"
#include "app/RadioItems.h"
#include "view/SpectrumView.h"

#include <QWidget>
#include <cmath>

CAxisCommands::CAxisCommands(QWidget* pWindow, CSpectrumView* pView)
    : QObject(pWindow), m_pWindow(pWindow), m_pView(pView),
      m_pNoteMenu(new QMenu(QStringLiteral("Note readout"), pWindow)),
      m_pLabelMenu(new QMenu(QStringLiteral("Frequency labels"), pWindow)),
      m_pNoteGroup(new QActionGroup(this)), m_pLabelGroup(new QActionGroup(this)),
      m_pActionNotesDesigned(
          AddRadioItem(m_pNoteMenu, m_pNoteGroup, QStringLiteral("As designed"), 0)),
      m_pActionCents(AddRadioItem(m_pNoteMenu, m_pNoteGroup, QStringLiteral("Cents"), 1)),
      m_pActionPitch(nullptr), m_pActionLabelsDesigned(AddRadioItem(
                                   m_pLabelMenu, m_pLabelGroup, QStringLiteral("As designed"), 0)),
      m_pActionRound(AddRadioItem(m_pLabelMenu, m_pLabelGroup, QStringLiteral("Round"), 1)),
      m_dA4Hz(SPitchName::kDefaultA4Hz) {
    m_pActionNotesDesigned->setChecked(true);
    m_pActionLabelsDesigned->setChecked(true);
    m_pNoteMenu->addSeparator();
    m_pActionPitch = m_pNoteMenu->addAction(QStringLiteral("Reference pitch\u2026"));
    connect(m_pNoteGroup, &QActionGroup::triggered, this, [this] { Apply(); });
    connect(m_pLabelGroup, &QActionGroup::triggered, this, [this] { Apply(); });
    connect(m_pActionPitch, &QAction::triggered, this, &CAxisCommands::OnReferencePitch);
}

void CAxisCommands::AddTo(QMenu* pMenu) {
    pMenu->addMenu(m_pNoteMenu);
    pMenu->addMenu(m_pLabelMenu);
}

bool CAxisCommands::SetReferencePitch(double dA4Hz) {
    if (!(dA4Hz >= SPitchName::kLowestA4Hz && dA4Hz <= SPitchName::kHighestA4Hz)) {
        return false;
    }
    m_dA4Hz = dA4Hz;
    Apply();
    return true;
}

void CAxisCommands::OnReferencePitch() {
    const double dChosen =
        AskNumber(m_pWindow, QStringLiteral("Reference pitch"), QStringLiteral("A4 (Hz):"), m_dA4Hz,
                  SPitchName::kLowestA4Hz, SPitchName::kHighestA4Hz, 1);
    if (!std::isnan(dChosen)) {
        SetReferencePitch(dChosen);
    }
}

void CAxisCommands::Apply() {
    m_pView->SetNoteReadout(m_pActionCents->isChecked(), m_dA4Hz);
    m_pView->SetRoundLabels(m_pActionRound->isChecked());
}
