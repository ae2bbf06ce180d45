#include "app/AccelSpinBox.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

namespace {

qint64 SteadyNowMs() {
    static QElapsedTimer s_clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return s_clock.elapsed();
}

} // namespace

CAccelSpinBox::CAccelSpinBox(QWidget* pParent) : QSpinBox(pParent), m_fnNowMs(SteadyNowMs) {
    // Qt's own acceleration would multiply our steps again.
    setAccelerated(false);
    setWrapping(false);
    setGroupSeparatorShown(true);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    lineEdit()->setReadOnly(true);
}

void CAccelSpinBox::SetAccel(std::vector<SAccel> accel) {
    m_accel = accel.empty() ? DefaultAccel() : std::move(accel);
}

int CAccelSpinBox::StepAfter(qint64 nHeldMs) const {
    int nStep = m_accel.front().nStep;
    for (const SAccel& a : m_accel) {
        if (nHeldMs >= qint64(a.nSeconds) * 1000)
            nStep = a.nStep;
    }
    return nStep;
}

void CAccelSpinBox::stepBy(int nSteps) {
    const qint64 nHeldMs = m_bHolding ? m_fnNowMs() - m_nHoldStartMs : 0;
    QSpinBox::stepBy(nSteps * StepAfter(nHeldMs));
}

bool CAccelSpinBox::IsStepKey(int nKey) {
    return nKey == Qt::Key_Up || nKey == Qt::Key_Down || nKey == Qt::Key_PageUp ||
           nKey == Qt::Key_PageDown;
}

void CAccelSpinBox::BeginHold() {
    m_bHolding = true;
    m_nHoldStartMs = m_fnNowMs();
}

void CAccelSpinBox::keyPressEvent(QKeyEvent* pEvent) {
    // A key held down repeats its press; the hold began with the first one.
    if (IsStepKey(pEvent->key()) && !(pEvent->isAutoRepeat() && m_bHolding))
        BeginHold();
    QSpinBox::keyPressEvent(pEvent);
}

void CAccelSpinBox::keyReleaseEvent(QKeyEvent* pEvent) {
    if (IsStepKey(pEvent->key()) && !pEvent->isAutoRepeat())
        EndHold();
    QSpinBox::keyReleaseEvent(pEvent);
}

void CAccelSpinBox::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton)
        BeginHold();
    QSpinBox::mousePressEvent(pEvent);
}

void CAccelSpinBox::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton)
        EndHold();
    QSpinBox::mouseReleaseEvent(pEvent);
}

void CAccelSpinBox::focusOutEvent(QFocusEvent* pEvent) {
    EndHold();
    QSpinBox::focusOutEvent(pEvent);
}
