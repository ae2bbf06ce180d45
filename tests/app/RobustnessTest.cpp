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
#include <map>
#include <random>
#include <string>
#include <tuple>

#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

namespace {

constexpr uint32_t kDefaultSeed = 20250601;
constexpr int kWalkSteps = 10000;
constexpr int kWalkParts = 4;

const QString kSorry = QStringLiteral("Sorry!\nBut I couldn't open the capture device.\n"
                                      "The device is busy or has been removed.");
const QString kHello =
    QStringLiteral("Hello?\nYou are already up and running, please stop before you start.");

constexpr int kSpins[] = {D::IDC_SPIN_SPAN_LOW,     D::IDC_SPIN_SPAN_HIGH,  D::IDC_SPIN_INERTIA,
                          D::IDC_SPIN_LENGTH,       D::IDC_SPIN_YSCALE,     D::IDC_SPIN_OFFSET,
                          D::IDC_SPIN_OFFSET_RIGHT, D::IDC_SPIN_MIN_X_SPACE};
constexpr int kLists[] = {D::IDC_LIST_RATE, D::IDC_LIST_SAMPLES, D::IDC_LIST_WINDOW};
constexpr int kChecks[] = {D::IDC_CHECK_PEAKS, D::IDC_CHECK_HOLD, D::IDC_CHECK_STEREO,
                           D::IDC_CHECK_PINK_TO_FLAT};
const char* const kRates[] = {"8000 Hz",  "11025 Hz", "22050 Hz",
                              "44100 Hz", "48000 Hz", "96000 Hz"};
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
        ASSERT_EQ(Dlg().Devices().SelectedDeviceName(), QString(CTestSignalDevice::kDescription));
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
        // The device list's thread went with the dialog; it may take a moment to end.
        EXPECT_TRUE(QTest::qWaitFor([this] { return ThreadCount() < m_nThreadsBefore; }, 1000))
            << ThreadCount() << " threads, " << m_nThreadsBefore << " before with the dialog";
        for (const SPrompt& prompt : m_prompts)
            EXPECT_TRUE(prompt.strText == kSorry || prompt.strText == kHello)
                << prompt.strText.toStdString();
    }

    bool Running() const { return m_pDialog->Engine() != nullptr; }
    bool Compact() const { return m_pDialog->IsCompact(); }

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

    // One change a person could make with what the window shows; returns its
    // name for the log.
    const char* Step() {
        const bool bRunning = m_dlg.Engine() != nullptr;
        const int nRoll = Pick(1000);
        if (m_dlg.IsCompact()) // compact: only the view, and leaving it
            return nRoll < 50 ? CompactToggle() : nRoll < 150 ? Wait() : Gesture();
        if (nRoll < 20)
            return CompactToggle();
        if (nRoll < 30)
            return DeviceChoice();
        if (!bRunning && nRoll < 130)
            return Press(CAnalyzerDialog::IDC_START, "start");
        if (bRunning && nRoll < 42)
            return Press(CAnalyzerDialog::IDC_STOP, "stop");
        if (nRoll < 80)
            return Wait();
        if (nRoll < 450)
            return Spin();
        if (nRoll < 600)
            return ListChoice();
        if (nRoll < 700)
            return CheckBox();
        return Gesture();
    }

private:
    int Pick(int nCount) { return std::uniform_int_distribution<int>(0, nCount - 1)(m_rng); }
    int Between(int nLow, int nHigh) {
        return std::uniform_int_distribution<int>(nLow, nHigh)(m_rng);
    }
    // One of the controls the window shows, or null.
    template <typename T, std::size_t N> T* AnyVisible(const int (&aIds)[N]) {
        std::vector<T*> shown;
        for (int nId : aIds) {
            QWidget* pWidget = m_dlg.Control(nId);
            if (pWidget && pWidget->isVisible())
                shown.push_back(qobject_cast<T*>(pWidget));
        }
        return shown.empty() ? nullptr : shown[static_cast<std::size_t>(Pick(int(shown.size())))];
    }

    const char* Wait() {
        QTest::qWait(Pick(20)); // the cycle draws meanwhile
        return "wait";
    }

    const char* Spin() {
        auto* pSpin = AnyVisible<QSpinBox>(kSpins);
        if (!pSpin)
            return Gesture();
        static const Qt::Key kKeys[] = {Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown};
        switch (Pick(3)) {
        case 0:
            pSpin->setValue(Between(pSpin->minimum() - 5, pSpin->maximum() + 5));
            return "spin value";
        case 1:
            QTest::keyClick(pSpin, kKeys[Pick(4)]);
            return "spin key";
        default: { // an arrow held for a while: the step grows
            const Qt::Key key = kKeys[Pick(2)];
            for (int i = Between(1, 30); i > 0; --i)
                QTest::keyPress(pSpin, key, Qt::NoModifier, 1);
            QTest::keyRelease(pSpin, key);
            return "spin held";
        }
        }
    }

    const char* ListChoice() {
        auto* pList = AnyVisible<QComboBox>(kLists);
        if (!pList)
            return Gesture();
        Choose(pList, Pick(pList->count()));
        return "list";
    }

    // Mostly the built-in signal; now and then the device that cannot be opened.
    const char* DeviceChoice() {
        auto* pList = AnyVisible<QComboBox>({CAnalyzerDialog::IDC_LIST_DEVICE});
        if (!pList)
            return Gesture();
        Choose(pList, Pick(4) == 0 ? RobustnessTest::kBrokenEntry : RobustnessTest::kBuiltInEntry);
        return "device";
    }

    const char* CheckBox() {
        auto* pCheck = AnyVisible<QCheckBox>(kChecks);
        if (!pCheck)
            return Gesture();
        QTest::mouseClick(pCheck, Qt::LeftButton, {}, QPoint(6, pCheck->height() / 2));
        return "check";
    }

    const char* Gesture() {
        CSpectrumView* pView = m_dlg.View();
        if (!pView->isVisible() || pView->width() < 2 || pView->height() < 2)
            return Wait();
        const auto at = [&] { return QPoint(Pick(pView->width()), Pick(pView->height())); };
        const int nRoll = Pick(100);
        if (nRoll < 35) {
            QTest::mouseMove(pView, at());
            return "move";
        }
        if (nRoll < 60) { // drag a span
            const QPoint from = at();
            const QPoint to(Pick(pView->width()), from.y());
            QTest::mousePress(pView, Qt::LeftButton, {}, from);
            QTest::mouseMove(pView, to);
            QTest::mouseRelease(pView, Qt::LeftButton, {}, to);
            return "drag";
        }
        if (nRoll < 80) {
            QTest::mouseClick(pView, Qt::RightButton, {}, at());
            return "right click";
        }
        if (nRoll < 97) {
            QTest::mouseDClick(pView, Qt::LeftButton, {}, at());
            return "double click";
        }
        QTest::mouseDClick(pView, Qt::RightButton, {}, at());
        return "right double click";
    }

    // A right click on the window's background (outside view and strip).
    const char* CompactToggle() {
        QTest::mouseClick(&m_dlg, Qt::RightButton, {}, QPoint(1, 1));
        return "background right click";
    }

    const char* Press(int nId, const char* pszName) {
        QWidget* pButton = m_dlg.Control(nId);
        if (!pButton->isVisible())
            return Gesture();
        QTest::mouseClick(pButton, Qt::LeftButton);
        return pszName;
    }

    CAnalyzerDialog& m_dlg;
    std::mt19937 m_rng;
};

} // namespace

// Ten thousand control changes, as four walks of a quarter as many from seeds
// of their own, which run side by side: each spends most of its time waiting
// for the engine's timer.
class RobustnessWalkTest : public RobustnessTest, public ::testing::WithParamInterface<int> {};

TEST_P(RobustnessWalkTest, RandomWalkOfControlChanges) {
    const uint32_t seed = WalkSeed() + static_cast<uint32_t>(GetParam());
    std::printf("random walk seed: %u (VEMRA_ROBUSTNESS_SEED=%u repeats these walks)\n", seed,
                WalkSeed());
    std::fflush(stdout);
    RecordProperty("seed", std::to_string(seed));

    QElapsedTimer timer;
    timer.start();
    CRandomWalk walk(Dlg(), seed);
    std::map<std::string, int> tally;
    for (int step = 0; step < kWalkSteps / kWalkParts; ++step) {
        const std::string action = walk.Step();
        QCoreApplication::processEvents();
        ++tally[action];
        ExpectPanelMatchesState();
        if (HasFatalFailure() || HasFailure()) {
            ADD_FAILURE() << "after step " << step << " (" << action << "), seed " << seed;
            break;
        }
    }
    std::printf("%d steps, %zu message boxes, %lld ms:", kWalkSteps / kWalkParts, m_prompts.size(),
                static_cast<long long>(timer.elapsed()));
    for (const auto& [action, count] : tally)
        std::printf(" %s %d,", action.c_str(), count);
    std::printf("\n");
    EXPECT_GT(tally["start"], 3) << "the walk hardly ran the analyser";
    EXPECT_GT(tally["spin value"] + tally["spin key"] + tally["spin held"], 250)
        << "the walk hardly reached the analysis controls";
    ExpectNothingLeftBehind();
}

INSTANTIATE_TEST_SUITE_P(TenThousandSteps, RobustnessWalkTest, ::testing::Range(0, kWalkParts),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string("Part") + std::to_string(info.param);
                         });

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

    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (i == sizes.size() / 2)
            Dlg().OnToggleCompactMode(); // the second half in compact mode
        Dlg().resize(sizes[i]);
        QTest::qWait(60); // frames at this size, from the cycle and from paint
        // The window keeps the size the shown controls and the plot need.
        const QSize size = sizes[i].expandedTo(Dlg().minimumSize());
        ASSERT_EQ(Dlg().size(), size);
        ASSERT_TRUE(Running());
        // The view fills the window above the strip (all of it in compact mode).
        const int nBelow = Compact() ? 3 : 60;
        ASSERT_EQ(Dlg().View()->size(), QSize(size.width() - 3, size.height() - nBelow));
        ASSERT_EQ(Dlg().View()->m_nWidth.load(), Dlg().View()->width());
    }
    // The view itself down to nothing, which no window size gives it.
    for (const QSize size : {QSize(1, 1), QSize(0, 0), QSize(1, 2), QSize(2, 1), QSize(28, 22),
                             QSize(29, 23), QSize(4000, 1), QSize(1, 3000)}) {
        Dlg().View()->resize(size);
        QTest::qWait(60);
        ASSERT_EQ(Dlg().View()->m_nHeight.load(), size.height());
    }
    Dlg().resize(800, 600);
    QTest::qWait(60);
    ASSERT_TRUE(Running());
    ExpectNothingLeftBehind();
}

// Every sample count and window function at one rate and channel set-up, each
// started afresh and run for one whole cycle.
class RobustnessCombinationTest : public RobustnessTest,
                                  public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(RobustnessCombinationTest, EverySetupStartsAndRunsACycle) {
    const char* pszRate = kRates[std::get<0>(GetParam())];
    const bool bStereo = std::get<1>(GetParam());
    QElapsedTimer timer;
    timer.start();
    int nRuns = 0;
    for (const char* pszSize : kSizes) {
        for (int nWindow = 0; nWindow < 4; ++nWindow) {
            SCOPED_TRACE(std::string(pszRate) + " " + pszSize + " " + kWindows[nWindow] +
                         (bStereo ? " stereo" : " mono"));
            ChooseSetup(kBuiltIn, pszRate, pszSize);
            ClickStart();
            ASSERT_TRUE(Running());
            // Before the first tick: the whole first cycle runs with these.
            Choose(List(D::IDC_LIST_WINDOW), nWindow);
            if (Check(D::IDC_CHECK_STEREO)->isChecked() != bStereo)
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
    std::printf("%s %s: %d set-ups in %lld ms\n", pszRate, bStereo ? "stereo" : "mono", nRuns,
                static_cast<long long>(timer.elapsed()));
    EXPECT_TRUE(m_prompts.empty());
    ExpectNothingLeftBehind();
}

INSTANTIATE_TEST_SUITE_P(EveryRate, RobustnessCombinationTest,
                         ::testing::Combine(::testing::Range(0, int(std::size(kRates))),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             const char* pszRate = kRates[std::get<0>(info.param)];
                             return std::string("Rate") +
                                    QString(pszRate).split(' ')[0].toStdString() +
                                    (std::get<1>(info.param) ? "Stereo" : "Mono");
                         });
