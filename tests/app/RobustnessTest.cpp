// Long runs through the dialog on the built-in test signal, meant for the
// address and undefined-behaviour sanitizer build: a seeded random walk over
// every control and gesture, window sizes from one pixel to 4000 x 3000 while
// running, and every rate, size, window and channel set-up started and run for
// one acquisition cycle. Each ends with no thread of ours left running.
//
// VEMRA_ROBUSTNESS_SEED=<n> repeats a walk with another seed.
#include <QElapsedTimer>
#include <QThreadPool>

#include <cstdio>
#include <random>
#include <string>
#include <tuple>

#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

namespace {

constexpr uint32_t kDefaultSeed = 20250601;
constexpr int kWalkSteps = 10000;

const QString kSorry = QStringLiteral("Sorry!\nBut I couldn't open the capture device.");
const QString kHello =
    QStringLiteral("Hello?\nYou are already up and running, please stop before you start.");

constexpr int kSpins[] = {D::IDC_SPIN_SPAN_LOW,     D::IDC_SPIN_SPAN_HIGH,  D::IDC_SPIN_INERTIA,
                          D::IDC_SPIN_LENGTH,       D::IDC_SPIN_YSCALE,     D::IDC_SPIN_OFFSET,
                          D::IDC_SPIN_OFFSET_RIGHT, D::IDC_SPIN_MIN_X_SPACE};
constexpr int kLists[] = {D::IDC_LIST_RATE, D::IDC_LIST_SAMPLES, D::IDC_LIST_WINDOW};
constexpr int kChecks[] = {D::IDC_CHECK_PEAKS, D::IDC_CHECK_HOLD, D::IDC_CHECK_STEREO,
                           D::IDC_CHECK_PINK_TO_FLAT};
const char* const kRates[] = {"8000 Hz", "11025 Hz", "22050 Hz", "44100 Hz"};
const char* const kSizes[] = {"1024", "2048", "4096", "8192", "16384"};
const char* const kWindows[] = {"Rectangular", "Triangular", "Hanning", "Hamming"};

// Chooses an entry as a person does: the selection changes and the list says
// it was activated (a program's setCurrentIndex alone raises no activation).
void Choose(QComboBox* pList, int nIndex) {
    pList->setCurrentIndex(nIndex);
    emit pList->activated(nIndex);
}

uint32_t WalkSeed() {
    bool bOk = false;
    const uint32_t seed = qEnvironmentVariable("VEMRA_ROBUSTNESS_SEED").toUInt(&bOk);
    return bOk ? seed : kDefaultSeed;
}

class RobustnessTest : public DialogTest {
public:
    static constexpr int kBuiltInEntry = kBuiltIn;
    static constexpr int kBrokenEntry = kBroken;

protected:
    void SetUp() override {
        DialogTest::SetUp();
        ASSERT_NE(m_pDialog, nullptr);
        List(D::IDC_LIST_DEVICE)->setCurrentIndex(kBuiltIn);
        ASSERT_EQ(Dlg().SelectedDeviceName(), QString(CTestSignalDevice::kDescription));
        m_nThreadsBefore = ThreadCount();
    }

    // Stops a run, closes the window and counts the threads again: the engine's
    // timer and the built-in device's writer must be gone. Qt's shared pool may
    // keep idle workers of its own for a while; they are let go first.
    void ExpectNothingLeftBehind() {
        if (Dlg().Engine())
            Dlg().OnStop();
        m_pDialog.reset();
        QCoreApplication::processEvents();
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_EQ(ThreadCount(), m_nThreadsBefore);
        for (const SPrompt& prompt : m_prompts)
            EXPECT_TRUE(prompt.strText == kSorry || prompt.strText == kHello)
                << prompt.strText.toStdString();
    }

    bool Running() const { return m_pDialog->Engine() != nullptr; }
    bool Compact() const { return m_pDialog->m_nPanelMode == 0; }

    // The arrangement the strip must show for the dialog's state.
    void ExpectPanelMatchesState() {
        if (Compact()) {
            ASSERT_FALSE(Ctl(D::IDC_START)->isVisible());
            ASSERT_FALSE(Ctl(D::IDC_STOP)->isVisible());
            return;
        }
        ASSERT_EQ(Ctl(D::IDC_START)->isVisible(), !Running());
        ASSERT_EQ(Ctl(D::IDC_STOP)->isVisible(), Running());
    }

    // Waits, the user interface running, until the engine begins its second
    // cycle: the first has then run from start to end.
    void WaitForFirstCycle() {
        CCaptureEngine* pEngine = Dlg().Engine();
        ASSERT_NE(pEngine, nullptr);
        int nMax = 0;
        const bool bEnded = QTest::qWaitFor(
            [&] {
                const int n = pEngine->m_nPassCount.load();
                if (n < nMax)
                    return true;
                nMax = std::max(nMax, n);
                return false;
            },
            10000);
        ASSERT_TRUE(bEnded) << "the first cycle did not end";
        ASSERT_GT(nMax, 0) << "the first cycle made no pass";
    }

    int m_nThreadsBefore = 0;
};

// ---- The random walk ------------------------------------------------------

class CRandomWalk {
public:
    CRandomWalk(CAnalyzerDialog& dlg, uint32_t seed) : m_dlg(dlg), m_rng(seed) {}

    int Pick(int nCount) { return std::uniform_int_distribution<int>(0, nCount - 1)(m_rng); }
    int Between(int nLow, int nHigh) {
        return std::uniform_int_distribution<int>(nLow, nHigh)(m_rng);
    }
    QWidget* Visible(int nId) {
        QWidget* pWidget = m_dlg.Control(nId);
        return pWidget && pWidget->isVisible() ? pWidget : nullptr;
    }

    // One change a person could make; returns its name for the log.
    const char* Step() {
        const int nRoll = Pick(100);
        if (nRoll < 30)
            return Spin();
        if (nRoll < 42)
            return ListChoice();
        if (nRoll < 52)
            return CheckBox();
        if (nRoll < 85)
            return Gesture();
        if (nRoll < 88)
            return CompactToggle();
        if (nRoll < 91)
            return StartOrStop();
        if (nRoll < 93)
            return DeviceChoice();
        QTest::qWait(Pick(20)); // let the cycle draw a while
        return "wait";
    }

private:
    const char* Spin() {
        auto* pSpin = qobject_cast<QSpinBox*>(Visible(kSpins[Pick(std::size(kSpins))]));
        if (!pSpin)
            return "spin (hidden)";
        static const Qt::Key kKeys[] = {Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown};
        switch (Pick(3)) {
        case 0:
            pSpin->setValue(Between(pSpin->minimum() - 5, pSpin->maximum() + 5));
            break;
        case 1:
            QTest::keyClick(pSpin, kKeys[Pick(4)]);
            break;
        default: // an arrow held for a while: the step grows
            for (int i = Between(1, 30); i > 0; --i)
                QTest::keyPress(pSpin, kKeys[Pick(2)], Qt::NoModifier, 1);
            QTest::keyRelease(pSpin, Qt::Key_Up);
            QTest::keyRelease(pSpin, Qt::Key_Down);
            break;
        }
        return "spin";
    }

    const char* ListChoice() {
        auto* pList = qobject_cast<QComboBox*>(Visible(kLists[Pick(std::size(kLists))]));
        if (!pList)
            return "list (hidden)";
        Choose(pList, Pick(pList->count()));
        return "list";
    }

    // Mostly the built-in signal; now and then the device that cannot be opened.
    const char* DeviceChoice() {
        auto* pList = qobject_cast<QComboBox*>(Visible(D::IDC_LIST_DEVICE));
        if (!pList)
            return "device (hidden)";
        Choose(pList, Pick(4) == 0 ? RobustnessTest::kBrokenEntry : RobustnessTest::kBuiltInEntry);
        return "device";
    }

    const char* CheckBox() {
        QWidget* pCheck = Visible(kChecks[Pick(std::size(kChecks))]);
        if (!pCheck)
            return "check (hidden)";
        QTest::mouseClick(pCheck, Qt::LeftButton, {}, QPoint(6, pCheck->height() / 2));
        return "check";
    }

    const char* Gesture() {
        CSpectrumView* pView = m_dlg.View();
        if (!pView->isVisible() || pView->width() < 2 || pView->height() < 2)
            return "gesture (no view)";
        const auto at = [&] { return QPoint(Pick(pView->width()), Pick(pView->height())); };
        switch (Pick(6)) {
        case 0:
        case 1:
            QTest::mouseMove(pView, at());
            return "move";
        case 2: { // drag a span
            const QPoint from = at();
            const QPoint to(Pick(pView->width()), from.y());
            QTest::mousePress(pView, Qt::LeftButton, {}, from);
            QTest::mouseMove(pView, to);
            QTest::mouseRelease(pView, Qt::LeftButton, {}, to);
            return "drag";
        }
        case 3:
            QTest::mouseClick(pView, Qt::RightButton, {}, at());
            return "right click";
        case 4:
            QTest::mouseDClick(pView, Qt::LeftButton, {}, at());
            return "double click";
        default:
            QTest::mouseDClick(pView, Qt::RightButton, {}, at());
            return "right double click";
        }
    }

    // A right click on the window's background (outside view and strip).
    const char* CompactToggle() {
        QTest::mouseClick(&m_dlg, Qt::RightButton, {}, QPoint(1, 1));
        return "background right click";
    }

    const char* StartOrStop() {
        if (QWidget* pStart = Visible(D::IDC_START)) {
            QTest::mouseClick(pStart, Qt::LeftButton);
            return "start";
        }
        if (QWidget* pStop = Visible(D::IDC_STOP)) {
            QTest::mouseClick(pStop, Qt::LeftButton);
            return "stop";
        }
        return "start/stop (hidden)";
    }

    CAnalyzerDialog& m_dlg;
    std::mt19937 m_rng;
};

} // namespace

TEST_F(RobustnessTest, RandomWalkOfTenThousandControlChanges) {
    const uint32_t seed = WalkSeed();
    std::printf("random walk seed: %u (VEMRA_ROBUSTNESS_SEED=%u repeats it)\n", seed, seed);
    std::fflush(stdout);
    RecordProperty("seed", std::to_string(seed));

    QElapsedTimer timer;
    timer.start();
    CRandomWalk walk(Dlg(), seed);
    int nStarts = 0;
    for (int step = 0; step < kWalkSteps; ++step) {
        const std::string action = walk.Step();
        QCoreApplication::processEvents();
        nStarts += action == "start" ? 1 : 0;
        ExpectPanelMatchesState();
        if (HasFatalFailure() || HasFailure()) {
            ADD_FAILURE() << "after step " << step << " (" << action << "), seed " << seed;
            break;
        }
    }
    std::printf("%d steps, %d starts, %zu message boxes, %lld ms\n", kWalkSteps, nStarts,
                m_prompts.size(), static_cast<long long>(timer.elapsed()));
    EXPECT_GT(nStarts, 10) << "the walk hardly ran the analyser";
    ExpectNothingLeftBehind();
}

TEST_F(RobustnessTest, WindowSizesFromOnePixelTo4000x3000WhileRunning) {
    ChooseSetup(kBuiltIn, "44100 Hz", "4096");
    ClickStart();
    ASSERT_TRUE(Running());
    Check(D::IDC_CHECK_STEREO)->click();
    QTest::mouseMove(Dlg().View(), QPoint(200, 50)); // the cursor readout too

    std::vector<QSize> sizes = {{1, 1},       {2, 2},     {3, 1},     {1, 3000},    {4000, 1},
                                {27, 22},     {28, 23},   {29, 60},   {31, 85},     {50, 50},
                                {100, 100},   {320, 200}, {800, 600}, {1920, 1080}, {4000, 3000},
                                {3999, 2999}, {640, 480}, {1, 1},     {4000, 3000}, {200, 3000}};
    std::mt19937 rng(WalkSeed());
    for (int i = 0; i < 30; ++i)
        sizes.emplace_back(std::uniform_int_distribution<int>(1, 4000)(rng),
                           std::uniform_int_distribution<int>(1, 3000)(rng));

    QSize smallest(INT_MAX, INT_MAX);
    QSize largest(0, 0);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (i == sizes.size() / 2)
            Dlg().OnRButtonDown(); // the second half in compact mode
        Dlg().resize(sizes[i]);
        QTest::qWait(60); // frames at this size, from the cycle and from paint
        const QSize view = Dlg().View()->size();
        smallest = smallest.boundedTo(Dlg().size());
        largest = largest.expandedTo(Dlg().size());
        // The view follows the window and its picture covers it.
        ASSERT_LE(view.width(), std::max(0, Dlg().width() - 3));
        ASSERT_EQ(Dlg().View()->m_nWidth.load(), view.width());
        ASSERT_TRUE(Running());
    }
    std::printf("window sizes reached: %dx%d to %dx%d\n", smallest.width(), smallest.height(),
                largest.width(), largest.height());
    EXPECT_LE(smallest.width(), 2);
    EXPECT_LE(smallest.height(), 2);
    EXPECT_GE(largest.width(), 4000);
    EXPECT_GE(largest.height(), 3000);
    ExpectNothingLeftBehind();
}

// Every sample count, window function and channel set-up at one rate, each
// started afresh and run for one whole cycle.
class RobustnessCombinationTest : public RobustnessTest,
                                  public ::testing::WithParamInterface<int> {};

TEST_P(RobustnessCombinationTest, EverySetupStartsAndRunsACycle) {
    const char* pszRate = kRates[GetParam()];
    QElapsedTimer timer;
    timer.start();
    int nRuns = 0;
    for (const char* pszSize : kSizes) {
        for (int nWindow = 0; nWindow < 4; ++nWindow) {
            for (int bStereo = 0; bStereo < 2; ++bStereo) {
                SCOPED_TRACE(std::string(pszRate) + " " + pszSize + " " + kWindows[nWindow] +
                             (bStereo ? " stereo" : " mono"));
                ChooseSetup(kBuiltIn, pszRate, pszSize);
                ClickStart();
                ASSERT_TRUE(Running());
                // Before the first tick: the whole first cycle runs with these.
                Choose(List(D::IDC_LIST_WINDOW), nWindow);
                if (Check(D::IDC_CHECK_STEREO)->isChecked() != (bStereo != 0))
                    Check(D::IDC_CHECK_STEREO)->click();
                CCaptureEngine* pEngine = Dlg().Engine();
                ASSERT_EQ(pEngine->m_nSampleRate.load(), QString(pszRate).split(' ')[0].toInt());
                ASSERT_EQ(pEngine->m_nFftSize.load(), QString(pszSize).toInt());
                ASSERT_EQ(pEngine->m_chanLeft.m_nWindowType.load(), nWindow);
                ASSERT_EQ(pEngine->m_bStereo.load(), bStereo);
                WaitForFirstCycle();
                if (HasFatalFailure())
                    return;
                ClickStop();
                ASSERT_FALSE(Running());
                ++nRuns;
            }
        }
    }
    std::printf("%s: %d set-ups in %lld ms\n", pszRate, nRuns,
                static_cast<long long>(timer.elapsed()));
    EXPECT_TRUE(m_prompts.empty());
    ExpectNothingLeftBehind();
}

INSTANTIATE_TEST_SUITE_P(EveryRate, RobustnessCombinationTest, ::testing::Range(0, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string("Rate") +
                                    QString(kRates[info.param]).split(' ')[0].toStdString();
                         });
