#include <QKeyEvent>

#include <algorithm>
#include <utility>

#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

namespace {

// Holds an arrow key down on a spin box whose clock the test sets: the first
// press, then the keyboard's repeats, while the spin box also repeats on its
// own timer. Records the size of every step taken.
class CHeldKey {
public:
    CHeldKey(CAccelSpinBox* pSpin, qint64& nNow, Qt::Key key)
        : m_pSpin(pSpin), m_nNow(nNow), m_key(key), m_nLast(pSpin->value()) {
        QObject::connect(pSpin, &QSpinBox::valueChanged, pSpin, [this](int nValue) {
            m_steps.push_back(nValue - m_nLast);
            m_nLast = nValue;
        });
    }
    void Press(qint64 nAt) {
        m_nNow = nAt;
        Send(QEvent::KeyPress, false);
    }
    // The key is still down at nAt: a repeat, and a moment of event loop.
    void HeldAt(qint64 nAt) {
        m_nNow = nAt;
        Send(QEvent::KeyRelease, true);
        Send(QEvent::KeyPress, true);
        QTest::qWait(150);
    }
    void Release(qint64 nAt) {
        m_nNow = nAt;
        Send(QEvent::KeyRelease, false);
    }
    // The steps taken since the last call.
    std::vector<int> TakeSteps() { return std::exchange(m_steps, {}); }

private:
    void Send(QEvent::Type type, bool bRepeat) {
        QKeyEvent event(type, m_key, Qt::NoModifier, QString(), bRepeat);
        QApplication::sendEvent(m_pSpin, &event);
    }

    CAccelSpinBox* m_pSpin;
    qint64& m_nNow;
    Qt::Key m_key;
    int m_nLast;
    std::vector<int> m_steps;
};

bool AllAre(const std::vector<int>& steps, int nStep) {
    return !steps.empty() &&
           std::all_of(steps.begin(), steps.end(), [nStep](int n) { return n == nStep; });
}

} // namespace

TEST(AccelSpinBox, StepsFollowTheTable) {
    CAccelSpinBox spin;
    spin.SetAccel({{0, 1}, {2, 10}, {5, 100}});
    EXPECT_EQ(spin.StepAfter(0), 1);
    EXPECT_EQ(spin.StepAfter(1999), 1);
    EXPECT_EQ(spin.StepAfter(2000), 10);
    EXPECT_EQ(spin.StepAfter(4999), 10);
    EXPECT_EQ(spin.StepAfter(5000), 100);
    EXPECT_EQ(spin.StepAfter(60000), 100);
}

TEST(AccelSpinBox, HoldingAnArrowKeySpeedsUpAndReleasingStartsAgain) {
    qint64 nNow = 0;
    CAccelSpinBox spin;
    spin.SetClock([&nNow] { return nNow; });
    spin.setRange(0, 1000000);
    spin.setValue(1000);
    spin.SetAccel({{0, 1}, {2, 10}, {5, 100}});
    CHeldKey up(&spin, nNow, Qt::Key_Up);
    up.Press(10000);
    EXPECT_EQ(up.TakeSteps(), std::vector<int>({1}));
    up.HeldAt(10500);
    EXPECT_TRUE(AllAre(up.TakeSteps(), 1));
    up.HeldAt(12100);
    EXPECT_TRUE(AllAre(up.TakeSteps(), 10));
    up.HeldAt(15000);
    EXPECT_TRUE(AllAre(up.TakeSteps(), 100));
    up.Release(15100);
    QTest::qWait(200);
    EXPECT_TRUE(up.TakeSteps().empty()); // released: no more repeats
    // A new press starts with a step of 1 again.
    up.Press(15200);
    EXPECT_EQ(up.TakeSteps(), std::vector<int>({1}));
    up.Release(15300);

    CHeldKey down(&spin, nNow, Qt::Key_Down);
    down.Press(20000);
    down.HeldAt(22500);
    const std::vector<int> steps = down.TakeSteps();
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(steps.front(), -1);
    EXPECT_EQ(steps.back(), -10);
    down.Release(22600);
}

TEST(AccelSpinBox, StopsAtTheLimitsWithoutWrapping) {
    qint64 nNow = 0;
    CAccelSpinBox spin;
    spin.SetClock([&nNow] { return nNow; });
    spin.setRange(0, 1000);
    spin.setValue(995);
    spin.SetAccel({{0, 1}, {2, 10}});
    CHeldKey up(&spin, nNow, Qt::Key_Up);
    up.Press(0);
    up.HeldAt(3000);
    EXPECT_EQ(spin.value(), 1000);
    up.HeldAt(3100);
    EXPECT_EQ(spin.value(), 1000);
    up.Release(3200);
}

TEST(AccelSpinBox, TheTextCannotBeTypedInto) {
    CAccelSpinBox spin;
    spin.setRange(0, 1000);
    spin.setValue(100);
    spin.show();
    QTest::keyClicks(&spin, QStringLiteral("5"));
    EXPECT_EQ(spin.value(), 100);
    QTest::keyClick(&spin, Qt::Key_Up);
    EXPECT_EQ(spin.value(), 101);
}

// The dialog's spins carry the acceleration table of their setting.
class DialogAccelTest : public DialogTest {};

TEST_F(DialogAccelTest, EachSpinHasItsTable) {
    using A = std::vector<std::pair<int, int>>;
    auto table = [this](int nId) {
        A pairs;
        for (const CAccelSpinBox::SAccel& a : Spin(nId)->Accel())
            pairs.emplace_back(a.nSeconds, a.nStep);
        return pairs;
    };
    const A span = {{0, 1}, {2, 10}, {5, 100}};
    const A offsets = {{0, 1}, {2, 10}};
    const A standard = {{0, 1}, {2, 5}, {5, 20}};
    EXPECT_EQ(table(D::IDC_SPIN_SPAN_LOW), span);
    EXPECT_EQ(table(D::IDC_SPIN_SPAN_HIGH), span);
    EXPECT_EQ(table(D::IDC_SPIN_YSCALE), A({{0, 1}}));
    EXPECT_EQ(table(D::IDC_SPIN_OFFSET), offsets);
    EXPECT_EQ(table(D::IDC_SPIN_OFFSET_RIGHT), offsets);
    EXPECT_EQ(table(D::IDC_SPIN_MIN_X_SPACE), offsets);
    EXPECT_EQ(table(D::IDC_SPIN_INERTIA), standard);
    EXPECT_EQ(table(D::IDC_SPIN_LENGTH), standard);
}

TEST_F(DialogAccelTest, HoldingTheSpanArrowRunsReadSettingsAtEveryStep) {
    qint64 nNow = 0;
    CAccelSpinBox* pSpin = Spin(D::IDC_SPIN_SPAN_HIGH);
    pSpin->SetClock([&nNow] { return nNow; });
    CHeldKey down(pSpin, nNow, Qt::Key_Down);
    down.Press(0);
    down.HeldAt(2000);
    const std::vector<int> early = down.TakeSteps();
    ASSERT_GE(early.size(), 2u);
    EXPECT_EQ(early.front(), -1);
    EXPECT_EQ(early.back(), -10);
    down.HeldAt(5000);
    EXPECT_TRUE(AllAre(down.TakeSteps(), -100));
    down.Release(5001);
    EXPECT_EQ(Dlg().Settings().m_nSpanHighHz, pSpin->value());
    EXPECT_LT(pSpin->value(), 16000 - 100);

    // Y-scale keeps its step of 1 however long the arrow is held.
    CAccelSpinBox* pYScale = Spin(D::IDC_SPIN_YSCALE);
    pYScale->SetClock([&nNow] { return nNow; });
    CHeldKey up(pYScale, nNow, Qt::Key_Up);
    up.Press(0);
    up.HeldAt(9000);
    EXPECT_TRUE(AllAre(up.TakeSteps(), 1));
    up.Release(9001);
    EXPECT_EQ(Dlg().Settings().m_nYScale, pYScale->value());
}

// A mouse held on an arrow: the spin box repeats by itself, and the step
// grows with the time held.
TEST(AccelSpinBox, HoldingTheArrowButtonWithTheMouse) {
    qint64 nNow = 0;
    CAccelSpinBox spin;
    spin.SetClock([&nNow] { return nNow; });
    spin.setRange(0, 100000);
    spin.setValue(0);
    spin.SetAccel({{0, 1}, {2, 10}, {5, 100}});
    spin.resize(80, 24);
    spin.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&spin));
    QStyleOptionSpinBox option;
    option.initFrom(&spin);
    option.subControls = QStyle::SC_SpinBoxUp;
    option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    const QPoint ptUp =
        spin.style()
            ->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, &spin)
            .center();
    QTest::mousePress(&spin, Qt::LeftButton, {}, ptUp);
    EXPECT_EQ(spin.value(), 1);
    nNow = 6000; // held for six seconds: the repeats step by 100
    for (int i = 0; i < 60 && spin.value() < 101; ++i)
        QTest::qWait(50);
    EXPECT_GE(spin.value(), 101);
    QTest::mouseRelease(&spin, Qt::LeftButton, {}, ptUp);
    EXPECT_EQ((spin.value() - 1) % 100, 0);
}
