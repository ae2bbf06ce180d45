#pragma once

#include <QObject>

class CSpectrumView;
class QAction;
class QActionGroup;
class QMenu;
class QWidget;

// "Bands": bars per octave or fractional-octave band instead of per group of
// bins, "Off" (the bins) by default. Usable while stopped too.
class CBandCommands : public QObject {
    Q_OBJECT
public:
    static constexpr int kFractions[] = {0, 1, 3, 6, 12}; // 0: off

    CBandCommands(QWidget* pWindow, CSpectrumView* pView);

    // Adds the submenu to the "?" menu.
    void AddTo(QMenu* pMenu);

    QMenu* Menu() const { return m_pMenu; }
    QAction* Action(int nFraction) const;
    int Fraction() const;

private:
    CSpectrumView* m_pView;
    QMenu* m_pMenu;
    QActionGroup* m_pGroup;
};
