#pragma once

#include <QSpinBox>

#include <functional>
#include <vector>

// A spin box whose step grows while an arrow is held, by a table of (seconds
// held, step) pairs: {{0, 1}, {2, 10}, {5, 100}} steps by 1 at once, by 10 after
// two seconds and by 100 after five. Holding means an arrow button kept pressed
// or an arrow key kept down; every other step (wheel, a single press) uses the
// first entry. The value stops at the range's ends; it never wraps.
//
// The text is read-only: only the arrows, the arrow keys and the program change
// the value, so the text always is a position the spin box set.
class CAccelSpinBox : public QSpinBox {
    Q_OBJECT
public:
    struct SAccel {
        int nSeconds;
        int nStep;
    };

    explicit CAccelSpinBox(QWidget* pParent = nullptr);

    void SetAccel(std::vector<SAccel> accel);
    const std::vector<SAccel>& Accel() const { return m_accel; }
    // The step that applies after the arrow has been held for nHeldMs.
    int StepAfter(qint64 nHeldMs) const;
    // Where the holding time is measured from; a steady clock in milliseconds.
    void SetClock(std::function<qint64()> fnNowMs) { m_fnNowMs = std::move(fnNowMs); }

    void stepBy(int nSteps) override;

    // The acceleration an up-down control has when nobody sets one.
    static std::vector<SAccel> DefaultAccel() { return {{0, 1}, {2, 5}, {5, 20}}; }

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    void keyReleaseEvent(QKeyEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;

private:
    static bool IsStepKey(int nKey);
    void BeginHold();
    void EndHold() { m_bHolding = false; }

    std::vector<SAccel> m_accel = DefaultAccel();
    std::function<qint64()> m_fnNowMs;
    bool m_bHolding = false;
    qint64 m_nHoldStartMs = 0;
};
