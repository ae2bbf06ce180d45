#include <QAbstractItemView>
#include <QAccessible>
#include <QStyle>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "app/DeviceListBox.h"
#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

namespace {

QStringList Entries(QComboBox* pList) {
    QStringList entries;
    for (int i = 0; i < pList->count(); ++i)
        entries << pList->itemText(i);
    return entries;
}

} // namespace

using StartupTest = DialogTest;

TEST_F(StartupTest, ShowsTheSetupGroupAndTheViewOnly) {
    for (int nId : SetupGroup())
        EXPECT_TRUE(Ctl(nId)->isVisible()) << nId;
    for (int nId : AnalysisGroup())
        EXPECT_FALSE(Ctl(nId)->isVisible()) << nId;
    EXPECT_TRUE(Dlg().View()->isVisible());
    EXPECT_TRUE(Dlg().HelpButton()->isVisible());
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().windowTitle(), QStringLiteral("Vemra-2 by Tave"));
    SaveShot(&Dlg(), "startup");
}

TEST_F(StartupTest, ListsHoldTheirEntriesAndTheDefaultsAreSelected) {
    EXPECT_EQ(Entries(List(D::IDC_LIST_RATE)),
              QStringList({"8000 Hz", "11025 Hz", "22050 Hz", "44100 Hz", "48000 Hz", "96000 Hz"}));
    EXPECT_EQ(Entries(List(D::IDC_LIST_SAMPLES)),
              QStringList({"1024", "2048", "4096", "8192", "16384"}));
    EXPECT_EQ(Entries(List(D::IDC_LIST_WINDOW)),
              QStringList({"Rectangular", "Triangular", "Hanning", "Hamming"}));
    EXPECT_EQ(Entries(List(D::IDC_LIST_DEVICE)),
              QStringList({"Primary capture device", "Scripted device", "Broken device",
                           "Test signal (built-in)"}));
    EXPECT_EQ(List(D::IDC_LIST_RATE)->currentText(), QStringLiteral("44100 Hz"));
    EXPECT_EQ(List(D::IDC_LIST_SAMPLES)->currentText(), QStringLiteral("4096"));
    EXPECT_EQ(List(D::IDC_LIST_WINDOW)->currentText(), QStringLiteral("Hanning"));
    EXPECT_EQ(List(D::IDC_LIST_DEVICE)->currentIndex(), 1);
    // The focus starts on the first tab stop, the device list.
    EXPECT_EQ(Dlg().focusWidget(), List(D::IDC_LIST_DEVICE));
}

TEST_F(StartupTest, SpinsHaveTheirRangesAndPositions) {
    struct SExpect {
        int nId, nMin, nMax, nValue;
    };
    const SExpect expected[] = {
        {D::IDC_SPIN_SPAN_LOW, 5, 22050, 40},     {D::IDC_SPIN_SPAN_HIGH, 5, 22050, 16000},
        {D::IDC_SPIN_INERTIA, 1, 1000, 3},        {D::IDC_SPIN_LENGTH, 1, 93, 93},
        {D::IDC_SPIN_YSCALE, 1, 500, 100},        {D::IDC_SPIN_OFFSET, 0, 1000, 100},
        {D::IDC_SPIN_OFFSET_RIGHT, 0, 1000, 100}, {D::IDC_SPIN_MIN_X_SPACE, 0, 1000, 2},
    };
    for (const SExpect& e : expected) {
        CAccelSpinBox* pSpin = Spin(e.nId);
        ASSERT_NE(pSpin, nullptr) << e.nId;
        EXPECT_EQ(pSpin->minimum(), e.nMin) << e.nId;
        EXPECT_EQ(pSpin->maximum(), e.nMax) << e.nId;
        EXPECT_EQ(pSpin->value(), e.nValue) << e.nId;
        EXPECT_FALSE(pSpin->wrapping()) << e.nId;
    }
    // A spin and its buddy edit are one control; its text shows the thousands.
    EXPECT_EQ(Ctl(D::IDC_EDIT_SPAN_HIGH), Ctl(D::IDC_SPIN_SPAN_HIGH));
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->text(), QLocale().toString(16000));
    EXPECT_FALSE(Check(D::IDC_CHECK_PEAKS)->isChecked());
    EXPECT_FALSE(Check(D::IDC_CHECK_HOLD)->isChecked());
    EXPECT_FALSE(Check(D::IDC_CHECK_STEREO)->isChecked());
    EXPECT_FALSE(Check(D::IDC_CHECK_PINK_TO_FLAT)->isChecked());
}

TEST_F(StartupTest, SettingsFieldsHoldTheControlsValues) {
    EXPECT_EQ(Dlg().Settings().m_nSampleRate, 44100);
    EXPECT_EQ(Dlg().Settings().m_nFftSize, 4096);
    EXPECT_EQ(Dlg().Settings().m_nSpanLowHz, 40);
    EXPECT_EQ(Dlg().Settings().m_nSpanHighHz, 16000);
    EXPECT_EQ(Dlg().Settings().m_nYScale, 100);
    EXPECT_EQ(Dlg().Settings().m_nInertia, 3);
    EXPECT_EQ(Dlg().Settings().m_nOffsetRight, 100);
    EXPECT_EQ(Dlg().Settings().m_nOffset, 100);
    EXPECT_EQ(Dlg().Settings().m_nMinXSpace, 2);
    EXPECT_EQ(Dlg().Settings().m_nLengthMs, 93);
    EXPECT_EQ(Dlg().Settings().m_nWindowType, 2);
    EXPECT_EQ(Dlg().Settings().m_bStereo, 0);
    EXPECT_EQ(Dlg().Settings().m_bHold, 0);
    EXPECT_EQ(Dlg().Settings().m_bFastAttack, 0);
    EXPECT_EQ(Dlg().Settings().m_bPinkToFlat, 0);
    EXPECT_FALSE(Dlg().IsCompact());
    // The view got its span spins and its dialog.
    EXPECT_EQ(Dlg().View()->m_pSpinSpanLow, Ctl(D::IDC_SPIN_SPAN_LOW));
    EXPECT_EQ(Dlg().View()->m_pSpinSpanHigh, Ctl(D::IDC_SPIN_SPAN_HIGH));
    EXPECT_EQ(Dlg().View()->m_pDialog, &Dlg());
}

TEST_F(StartupTest, LabelsReadTheirTexts) {
    auto text = [this](int nId) {
        if (auto* pLabel = Ctl<QLabel>(nId))
            return pLabel->text();
        return Ctl<QAbstractButton>(nId)->text();
    };
    EXPECT_EQ(text(D::IDC_LABEL_DEVICE), QStringLiteral("Capture device:"));
    EXPECT_EQ(text(D::IDC_LABEL_RATE), QStringLiteral("Sample rate:"));
    EXPECT_EQ(text(D::IDC_LABEL_SAMPLES), QStringLiteral("Samples:"));
    EXPECT_EQ(text(D::IDC_START), QStringLiteral("&Start"));
    EXPECT_EQ(text(D::IDC_STOP), QStringLiteral("S&top"));
    EXPECT_EQ(text(D::IDC_LABEL_SPAN), QStringLiteral("Frequency span:"));
    EXPECT_EQ(text(D::IDC_LABEL_INERTIA), QStringLiteral("Inertia:"));
    EXPECT_EQ(text(D::IDC_LABEL_YSCALE), QStringLiteral("Y-scale:"));
    EXPECT_EQ(text(D::IDC_LABEL_OFFSET), QStringLiteral("Offset"));
    EXPECT_EQ(text(D::IDC_LABEL_WINDOW), QStringLiteral("Window function:"));
    EXPECT_EQ(text(D::IDC_LABEL_MIN_X_SPACE), QStringLiteral("Min X-space"));
    EXPECT_EQ(text(D::IDC_LABEL_LENGTH), QStringLiteral("Length (ms):"));
    EXPECT_EQ(text(D::IDC_CHECK_PEAKS), QStringLiteral("Pks"));
    EXPECT_EQ(text(D::IDC_CHECK_HOLD), QStringLiteral("Hold"));
    EXPECT_EQ(text(D::IDC_CHECK_STEREO), QStringLiteral("Stereo?"));
    EXPECT_EQ(text(D::IDC_CHECK_PINK_TO_FLAT), QStringLiteral("Pink 2 Flat"));
}

TEST_F(StartupTest, ClientAreaAndControlsHaveTheirTemplateSizes) {
    // 525 x 286 dialog units at 1.5 and 1.625 pixels per unit.
    EXPECT_EQ(Dlg().size(), QSize(788, 465));
    EXPECT_EQ(Dlg().ClientWidth(), 788);
    EXPECT_EQ(Dlg().ClientHeight(), 465);
    EXPECT_EQ(Ctl(D::IDC_START)->size(), QSize(60, 24));
    EXPECT_EQ(Ctl(D::IDC_LABEL_DEVICE)->size(), QSize(102, 13));
    EXPECT_EQ(Ctl(D::IDC_CHECK_STEREO)->size(), QSize(66, 20));
    EXPECT_EQ(Ctl(D::IDC_LIST_DEVICE)->width(), 233);
}

TEST_F(StartupTest, LayoutPlacesTheStripFromTheBottomEdge) {
    Dlg().resize(900, 500);
    QTest::qWait(0);
    const int H = 500;
    EXPECT_EQ(Dlg().View()->geometry(), QRect(2, 2, 897, H - 60));
    EXPECT_EQ(Ctl(D::IDC_LABEL_DEVICE)->pos(), QPoint(12, H - 44));
    EXPECT_EQ(Ctl(D::IDC_LIST_DEVICE)->pos(), QPoint(120, H - 48));
    EXPECT_EQ(Ctl(D::IDC_LIST_SAMPLES)->pos(), QPoint(296, H - 22));
    EXPECT_EQ(Ctl(D::IDC_START)->pos(), QPoint(396, H - 24));
    EXPECT_EQ(Ctl(D::IDC_STOP)->pos(), QPoint(720, H - 31));
    EXPECT_EQ(Ctl(D::IDC_CHECK_PEAKS)->pos(), QPoint(197, H - 52));
    EXPECT_EQ(Ctl(D::IDC_LIST_WINDOW)->pos(), QPoint(550, H - 29));
    // A spin box covers its up-down control (6, H-31, 17 x 23) and its edit
    // (25, H-29, 47 x 20).
    EXPECT_EQ(Ctl(D::IDC_SPIN_SPAN_LOW)->geometry(), QRect(6, H - 31, 66, 23));
    // The help button sits at the right end of the strip, clear of Stop.
    const QRect rcHelp = Dlg().HelpButton()->geometry();
    EXPECT_EQ(rcHelp.right(), 900 - 5);
    EXPECT_FALSE(rcHelp.intersects(Ctl(D::IDC_STOP)->geometry()));
    EXPECT_GT(rcHelp.top(), Dlg().View()->geometry().bottom());
}

// The help button never covers a control: at the right end of the strip
// where there is room, else after the last control of the arrangement. The
// window does not get smaller than the arrangement needs to keep every control
// whole, and while stopped the welcome page's lines apart.
TEST_F(StartupTest, TheHelpButtonNeverCoversAControl) {
    const QSize sizes[] = {{520, 330}, {700, 352}, {600, 400}, {900, 500}, {1400, 700}};
    auto check = [this](const QSize& asked, const char* pszArrangement) {
        Dlg().resize(asked);
        QTest::qWait(0);
        const QSize size = Dlg().size();
        const QRect rcWindow(QPoint(0, 0), size);
        const QRect rcHelp = Dlg().HelpButton()->geometry();
        const QRect rcRightEnd(size.width() - 28, rcHelp.top(), rcHelp.width(), rcHelp.height());
        EXPECT_TRUE(rcWindow.contains(rcHelp)) << pszArrangement << " " << asked.width();
        bool bRightEndFree = true;
        int nLastRight = 0;
        for (int nId = D::IDC_VIEW + 1; nId <= D::IDC_CHECK_PINK_TO_FLAT; ++nId) {
            QWidget* pControl = Ctl(nId);
            if (!pControl || !pControl->isVisible())
                continue;
            EXPECT_FALSE(rcHelp.intersects(pControl->geometry()))
                << pszArrangement << " " << size.width() << "x" << size.height() << ": covers "
                << nId;
            EXPECT_TRUE(rcWindow.contains(pControl->geometry()))
                << pszArrangement << " " << asked.width() << "x" << asked.height() << ": cuts "
                << nId;
            bRightEndFree = bRightEndFree && !rcRightEnd.intersects(pControl->geometry());
            nLastRight = std::max(nLastRight, pControl->geometry().right());
        }
        if (bRightEndFree)
            EXPECT_EQ(rcHelp.topLeft(), rcRightEnd.topLeft()) << size.width();
        else
            EXPECT_EQ(rcHelp.left(), nLastRight + 5) << size.width();
        if (!Dlg().Engine()) {
            EXPECT_GE(Dlg().View()->height(), Dlg().View()->MinimumPictureSize(true).height());
        }
    };
    for (const QSize& size : sizes)
        check(size, "set-up");
    ClickStart();
    for (const QSize& size : sizes)
        check(size, "running");
    Click(Check(D::IDC_CHECK_STEREO));
    for (const QSize& size : sizes)
        check(size, "stereo");
    ClickStop();
}

// A screen reader names every control after its caption. Drop-down lists
// carry their entry as their name on this desktop; their caption reaches the
// reader as the label they are labelled by.
TEST_F(StartupTest, EveryControlHasTheNameOfItsCaption) {
    auto name = [](QWidget* pWidget) {
        QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pWidget);
        return pAccessible ? pAccessible->text(QAccessible::Name) : QString();
    };
    auto labelledBy = [](QWidget* pWidget) {
        QAccessibleInterface* pAccessible = QAccessible::queryAccessibleInterface(pWidget);
        QStringList labels;
        for (const auto& [pOther, relation] : pAccessible->relations(QAccessible::Label))
            labels << pOther->text(QAccessible::Name);
        return labels.join(u'|');
    };
    ClickStart();
    Click(Check(D::IDC_CHECK_STEREO));
    const std::pair<int, const char*> named[] = {
        {D::IDC_SPIN_SPAN_LOW, "Frequency span, low edge (Hz)"},
        {D::IDC_SPIN_SPAN_HIGH, "Frequency span, high edge (Hz)"},
        {D::IDC_SPIN_INERTIA, "Inertia"},
        {D::IDC_SPIN_LENGTH, "Length (ms)"},
        {D::IDC_SPIN_YSCALE, "Y-scale"},
        {D::IDC_SPIN_OFFSET, "Offset"},
        {D::IDC_SPIN_OFFSET_RIGHT, "Offset (R)"},
        {D::IDC_SPIN_MIN_X_SPACE, "Min X-space"},
        {D::IDC_CHECK_PEAKS, "Pks"},
        {D::IDC_CHECK_HOLD, "Hold"},
        {D::IDC_CHECK_STEREO, "Stereo?"},
        {D::IDC_CHECK_PINK_TO_FLAT, "Pink 2 Flat"},
        {D::IDC_STOP, "Stop"},
        {D::IDC_VIEW, "Spectrum display"},
    };
    for (const auto& [nId, pszName] : named)
        EXPECT_EQ(name(Ctl(nId)), QString::fromUtf8(pszName)) << nId;
    EXPECT_EQ(labelledBy(Ctl(D::IDC_LIST_WINDOW)), QStringLiteral("Window function:"));
    EXPECT_EQ(labelledBy(Ctl(D::IDC_SPIN_INERTIA)), QStringLiteral("Inertia:"));
    ClickStop();
    EXPECT_EQ(name(Ctl(D::IDC_START)), QStringLiteral("Start"));
    EXPECT_EQ(labelledBy(Ctl(D::IDC_LIST_DEVICE)), QStringLiteral("Capture device:"));
    EXPECT_EQ(labelledBy(Ctl(D::IDC_LIST_RATE)), QStringLiteral("Sample rate:"));
    EXPECT_EQ(labelledBy(Ctl(D::IDC_LIST_SAMPLES)), QStringLiteral("Samples:"));
}

TEST_F(StartupTest, TinyClientSizesAreRecordedButLeaveTheControlsInPlace) {
    const QPoint ptStart = Ctl(D::IDC_START)->pos();
    Dlg().setMinimumSize(1, 1);
    Dlg().resize(10, 300);
    QTest::qWait(0);
    EXPECT_EQ(Dlg().ClientWidth(), 10);
    EXPECT_EQ(Ctl(D::IDC_START)->pos(), ptStart);
}

TEST_F(StartupTest, TabOrderFollowsTheTemplate) {
    // Tab stops in template order; a spin box stands where its edit stood.
    const int order[] = {D::IDC_LIST_DEVICE,
                         D::IDC_LIST_RATE,
                         D::IDC_LIST_SAMPLES,
                         D::IDC_START,
                         D::IDC_SPIN_SPAN_LOW,
                         D::IDC_SPIN_SPAN_HIGH,
                         D::IDC_SPIN_INERTIA,
                         D::IDC_CHECK_PEAKS,
                         D::IDC_SPIN_LENGTH,
                         D::IDC_SPIN_YSCALE,
                         D::IDC_SPIN_OFFSET,
                         D::IDC_CHECK_STEREO,
                         D::IDC_SPIN_OFFSET_RIGHT,
                         D::IDC_LIST_WINDOW,
                         D::IDC_STOP,
                         D::IDC_SPIN_MIN_X_SPACE,
                         D::IDC_CHECK_HOLD,
                         D::IDC_CHECK_PINK_TO_FLAT};
    std::vector<QWidget*> expected;
    for (int nId : order)
        expected.push_back(Ctl(nId));
    std::vector<QWidget*> chain;
    QWidget* p = &Dlg();
    do {
        p = p->nextInFocusChain();
        if (std::find(expected.begin(), expected.end(), p) != expected.end())
            chain.push_back(p);
    } while (p != &Dlg());
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(Dlg().View()->focusPolicy() & Qt::TabFocus, 0);
}

// Every caption and every value a spin can show fits its control at the
// dialog's font: nothing is cut.
TEST_F(StartupTest, TextsFitTheirControls) {
    QStyle* pStyle = Dlg().style();
    for (int nId : {D::IDC_LABEL_DEVICE, D::IDC_LABEL_RATE, D::IDC_LABEL_SAMPLES, D::IDC_LABEL_SPAN,
                    D::IDC_LABEL_INERTIA, D::IDC_LABEL_YSCALE, D::IDC_LABEL_OFFSET,
                    D::IDC_LABEL_WINDOW, D::IDC_LABEL_MIN_X_SPACE, D::IDC_LABEL_LENGTH}) {
        auto* pLabel = Ctl<QLabel>(nId);
        EXPECT_LE(pLabel->fontMetrics().horizontalAdvance(pLabel->text()),
                  pLabel->contentsRect().width())
            << pLabel->text().toStdString();
        EXPECT_LE(pLabel->fontMetrics().height(), pLabel->height()) << nId;
    }
    for (int nId :
         {D::IDC_CHECK_PEAKS, D::IDC_CHECK_HOLD, D::IDC_CHECK_STEREO, D::IDC_CHECK_PINK_TO_FLAT}) {
        QCheckBox* pCheck = Check(nId);
        QStyleOptionButton option;
        option.initFrom(pCheck);
        option.text = pCheck->text();
        const QRect rcText =
            pCheck->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, pCheck);
        EXPECT_LE(pCheck->fontMetrics().horizontalAdvance(pCheck->text()), rcText.width())
            << pCheck->text().toStdString();
    }
    for (int nId : {D::IDC_START, D::IDC_STOP}) {
        auto* pButton = Ctl<QPushButton>(nId);
        const int nMargin = pStyle->pixelMetric(QStyle::PM_ButtonMargin, nullptr, pButton);
        EXPECT_LE(pButton->fontMetrics().horizontalAdvance(pButton->text().remove(u'&')) +
                      2 * nMargin,
                  pButton->width());
    }
    for (int nId : {D::IDC_SPIN_SPAN_LOW, D::IDC_SPIN_SPAN_HIGH, D::IDC_SPIN_INERTIA,
                    D::IDC_SPIN_LENGTH, D::IDC_SPIN_YSCALE, D::IDC_SPIN_OFFSET,
                    D::IDC_SPIN_OFFSET_RIGHT, D::IDC_SPIN_MIN_X_SPACE}) {
        CAccelSpinBox* pSpin = Spin(nId);
        // The widest value each can reach in any set-up.
        const int nWidest = nId == D::IDC_SPIN_LENGTH ? 2048 : pSpin->maximum();
        const QString strWidest = QLocale().toString(nWidest);
        const int nTextRoom = pSpin->findChild<QLineEdit*>()->contentsRect().width() - 4;
        EXPECT_LE(pSpin->fontMetrics().horizontalAdvance(strWidest), nTextRoom)
            << nId << " " << strWidest.toStdString();
    }
    for (int nId : {D::IDC_LIST_RATE, D::IDC_LIST_SAMPLES, D::IDC_LIST_WINDOW}) {
        QComboBox* pList = List(nId);
        for (int i = 0; i < pList->count(); ++i) {
            pList->setCurrentIndex(i);
            QStyleOptionComboBox option;
            option.initFrom(pList);
            option.currentText = pList->itemText(i);
            const QRect rcText = pStyle->subControlRect(QStyle::CC_ComboBox, &option,
                                                        QStyle::SC_ComboBoxEditField, pList);
            EXPECT_LE(pList->fontMetrics().horizontalAdvance(pList->itemText(i)), rcText.width())
                << pList->itemText(i).toStdString();
        }
    }
}

TEST_F(StartupTest, RunningArrangementScreenshot) {
    ClickStart();
    Check(D::IDC_CHECK_STEREO)->click();
    QTest::qWait(50);
    SaveShot(&Dlg(), "running");
    ClickStop();
    EXPECT_EQ(Dlg().Engine(), nullptr);
}

class EnumerationTest : public DialogTest {
protected:
    void SetUp() override {
        m_bShowOnSetUp = false;
        DialogTest::SetUp();
    }
};

int FailingEnumerate(CaptureEnumCallback, void*) {
    return kCaptureErrGeneric;
}

int ManyDevicesEnumerate(CaptureEnumCallback pfnCallback, void* pContext) {
    pfnCallback(nullptr, "Primary capture device", "", pContext);
    for (uint8_t i = 0; i < 25; ++i) {
        SCaptureGuid guid{};
        guid.bytes[0] = 0xA0;
        guid.bytes[1] = i;
        const std::string strName = "Device " + std::to_string(i);
        pfnCallback(&guid, strName.c_str(), "portaudio", pContext);
    }
    const SCaptureGuid builtIn = CTestSignalDevice::Guid();
    pfnCallback(&builtIn, CTestSignalDevice::kDescription, CTestSignalDevice::kModule, pContext);
    return 0;
}

// A failed enumeration still completes the start-up: the built-in signal is
// listed and selected, every setting has its value, and Start runs.
TEST_F(EnumerationTest, FailureStillListsTheBuiltInSignalAndStartWorks) {
    m_desktop.pfnEnumerateDevices = &FailingEnumerate;
    ShowDialog();
    QComboBox* pDevices = List(D::IDC_LIST_DEVICE);
    ASSERT_EQ(pDevices->count(), 1);
    EXPECT_EQ(pDevices->itemText(0), QStringLiteral("Test signal (built-in)"));
    EXPECT_EQ(pDevices->currentIndex(), 0);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), 16000);
    EXPECT_EQ(Dlg().View()->m_pDialog, &Dlg());
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_TRUE(m_prompts.empty());
    ClickStop();
}

// Twenty sound devices at most; the built-in signal is always listed.
TEST_F(EnumerationTest, AtMostTwentyDevicesAndTheBuiltInSignal) {
    m_desktop.pfnEnumerateDevices = &ManyDevicesEnumerate;
    ShowDialog();
    QComboBox* pDevices = List(D::IDC_LIST_DEVICE);
    ASSERT_EQ(pDevices->count(), 22);
    EXPECT_EQ(pDevices->itemText(20), QStringLiteral("Device 19"));
    EXPECT_EQ(pDevices->itemText(21), QStringLiteral("Test signal (built-in)"));
}

// The devices are found off the user-interface thread: an enumeration held up
// (a frozen sound server) leaves the window up, listing the built-in signal
// and saying that it is still looking, until the answer comes.
struct SGate {
    std::mutex lock;
    std::condition_variable opened;
    bool bOpen = false;
    std::atomic<int> nCalls{0};

    void Open() {
        std::lock_guard guard(lock);
        bOpen = true;
        opened.notify_all();
    }
};
SGate* g_pGate = nullptr;

class DeviceListTest : public EnumerationTest {
protected:
    static int GatedEnumerate(CaptureEnumCallback pfnCallback, void* pContext) {
        {
            std::unique_lock guard(g_pGate->lock);
            g_pGate->opened.wait(guard, [] { return g_pGate->bOpen; });
        }
        ++g_pGate->nCalls;
        return ScriptedEnumerate(pfnCallback, pContext);
    }

    void SetUp() override {
        g_pGate = &m_gate;
        EnumerationTest::SetUp();
        m_desktop.pfnEnumerateDevices = &GatedEnumerate;
    }
    void TearDown() override {
        m_gate.Open();
        EnumerationTest::TearDown();
        g_pGate = nullptr;
    }
    // The window up before the devices are known.
    void ShowWhileLooking() {
        m_pDialog = std::make_unique<CAnalyzerDialog>(m_desktop);
        m_pDialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pDialog.get()));
    }
    void WaitForList() {
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return !Dlg().Devices().IsLookingForDevices(); }, 5000));
    }
    QComboBox* Devices() { return List(D::IDC_LIST_DEVICE); }
    static SCaptureDeviceEntry Entry(const SCaptureGuid* pGuid, const char* pszName) {
        SCaptureDeviceEntry entry;
        entry.bPrimary = pGuid == nullptr;
        if (pGuid)
            entry.guid = *pGuid;
        entry.description = pszName;
        return entry;
    }
    static SCaptureGuid Guid(uint8_t nId) {
        SCaptureGuid guid{};
        guid.bytes[0] = 0xB0;
        guid.bytes[1] = nId;
        return guid;
    }

    SGate m_gate;
};

TEST_F(DeviceListTest, TheWindowComesUpAtOnceAndSaysItIsLooking) {
    ShowWhileLooking();
    EXPECT_TRUE(Dlg().Devices().IsLookingForDevices());
    EXPECT_EQ(Entries(Devices()), QStringList({"Test signal (built-in)"}));
    EXPECT_EQ(Devices()->currentIndex(), -1);
    // The closed list says so, in place of an entry.
    EXPECT_EQ(qobject_cast<CDeviceListBox*>(Devices())->ShownText(),
              QString::fromUtf8(CDeviceChooser::kLookingText));
    // Everything else is set up already.
    EXPECT_EQ(List(D::IDC_LIST_RATE)->currentText(), QStringLiteral("44100 Hz"));
    EXPECT_EQ(Dlg().View()->m_pDialog, &Dlg());
    SaveShot(&Dlg(), "looking");

    m_gate.Open();
    WaitForList();
    EXPECT_EQ(Entries(Devices()), QStringList({"Primary capture device", "Scripted device",
                                               "Broken device", "Test signal (built-in)"}));
    EXPECT_EQ(Devices()->currentIndex(), 1);
}

TEST_F(DeviceListTest, AChoiceMadeWhileLookingIsKept) {
    ShowWhileLooking();
    Devices()->setFocus();
    QTest::keyClick(Devices(), Qt::Key_Down); // the built-in signal, the only entry yet
    ASSERT_EQ(Devices()->currentIndex(), 0);
    m_gate.Open();
    WaitForList();
    EXPECT_EQ(Devices()->currentText(), QStringLiteral("Test signal (built-in)"));
}

// New lists from the sound server: the user's pick stays on its device, the
// program's own choice is entry 1 of each list, the primary entry takes the
// new default's name, a device that is gone is gone.
TEST_F(DeviceListTest, TheSelectionFollowsItsDeviceThroughNewLists) {
    m_gate.Open();
    ShowWhileLooking();
    WaitForList();
    const SCaptureGuid mic = Guid(1), usb = Guid(2), monitor = Guid(3);
    Dlg().Devices().OnDevicesListed({Entry(nullptr, "Primary capture device (Mic)"),
                                     Entry(&mic, "Mic"), Entry(&monitor, "Monitor of Speakers")});
    EXPECT_EQ(Devices()->currentText(), QStringLiteral("Mic"));
    // Nobody chose "Mic": the next list's entry 1 is selected, as at a start.
    Dlg().Devices().OnDevicesListed(
        {Entry(nullptr, "Primary capture device (USB)"), Entry(&usb, "USB")});
    EXPECT_EQ(Devices()->currentText(), QStringLiteral("USB"));
    Dlg().Devices().OnDevicesListed({Entry(nullptr, "Primary capture device (Mic)"),
                                     Entry(&mic, "Mic"), Entry(&monitor, "Monitor of Speakers")});
    Devices()->setCurrentIndex(2);

    // A USB microphone plugged in and made the default input.
    Dlg().Devices().OnDevicesListed({Entry(nullptr, "Primary capture device (USB)"),
                                     Entry(&usb, "USB"), Entry(&mic, "Mic"),
                                     Entry(&monitor, "Monitor of Speakers")});
    EXPECT_EQ(Entries(Devices()), QStringList({"Primary capture device (USB)", "USB", "Mic",
                                               "Monitor of Speakers", "Test signal (built-in)"}));
    EXPECT_EQ(Devices()->currentText(), QStringLiteral("Monitor of Speakers"));

    // The primary entry stays chosen while its name changes.
    Devices()->setCurrentIndex(0);
    Dlg().Devices().OnDevicesListed({Entry(nullptr, "Primary capture device (Mic)"),
                                     Entry(&mic, "Mic"), Entry(&monitor, "Monitor of Speakers")});
    EXPECT_EQ(Devices()->currentIndex(), 0);
    EXPECT_EQ(Devices()->currentText(), QStringLiteral("Primary capture device (Mic)"));

    // The chosen source goes away: entry 1, and it is not offered any more.
    Devices()->setCurrentIndex(2);
    Dlg().Devices().OnDevicesListed(
        {Entry(nullptr, "Primary capture device (Mic)"), Entry(&mic, "Mic")});
    EXPECT_EQ(Devices()->currentIndex(), 1);
    EXPECT_EQ(Devices()->findText(QStringLiteral("Monitor of Speakers")), -1);
}

TEST_F(DeviceListTest, WhileRunningTheListWaitsForStop) {
    m_gate.Open();
    ShowWhileLooking();
    WaitForList();
    ChooseSetup(kScripted, "44100 Hz", "4096");
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    const SCaptureGuid mic = Guid(1);
    Dlg().Devices().OnDevicesListed(
        {Entry(nullptr, "Primary capture device (Mic)"), Entry(&mic, "Mic")});
    EXPECT_EQ(Devices()->currentText(), QStringLiteral("Scripted device"));
    EXPECT_EQ(Devices()->count(), 4);
    ClickStop();
    EXPECT_EQ(Entries(Devices()),
              QStringList({"Primary capture device (Mic)", "Mic", "Test signal (built-in)"}));
    EXPECT_EQ(Devices()->currentIndex(), 1);
}

// Without a sound server to report new devices, opening the list looks again.
TEST_F(DeviceListTest, OpeningTheListLooksForDevicesAgainWithoutAServer) {
    m_gate.Open();
    ShowWhileLooking();
    WaitForList();
    ASSERT_FALSE(Dlg().Devices().Watcher()->IsFollowingServer());
    const int nBefore = m_gate.nCalls.load();
    Devices()->showPopup();
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_gate.nCalls.load() > nBefore; }, 2000));
    Devices()->hidePopup();
}

// Long names that differ only at their end stay apart in the closed list, and
// the open list shows them whole.
TEST_F(DeviceListTest, LongNamesAreShortenedInTheMiddle) {
    m_gate.Open();
    ShowWhileLooking();
    WaitForList();
    const std::string strLong =
        "Scarlett 2i2 USB Audio Interface, second generation: USB Audio (hw:2,0)";
    const SCaptureGuid alsa = Guid(1), oss = Guid(2);
    Dlg().Devices().OnDevicesListed({Entry(nullptr, "Primary capture device"),
                                     Entry(&alsa, (strLong + " (ALSA)").c_str()),
                                     Entry(&oss, (strLong + " (OSS)").c_str())});
    auto* pList = qobject_cast<CDeviceListBox*>(Devices());
    ASSERT_NE(pList, nullptr);
    const QString strShown = pList->ShownText();
    EXPECT_TRUE(strShown.contains(QChar(0x2026))) << strShown.toStdString();
    EXPECT_TRUE(strShown.endsWith(QStringLiteral("(ALSA)"))) << strShown.toStdString();
    EXPECT_TRUE(strShown.startsWith(QStringLiteral("Scar"))) << strShown.toStdString();
    EXPECT_EQ(pList->toolTip(), QString::fromStdString(strLong + " (ALSA)"));
    pList->setCurrentIndex(2);
    EXPECT_TRUE(pList->ShownText().endsWith(QStringLiteral("(OSS)")));
    EXPECT_EQ(pList->toolTip(), QString::fromStdString(strLong + " (OSS)"));
    EXPECT_GE(pList->view()->minimumWidth(),
              pList->view()->fontMetrics().horizontalAdvance(pList->itemText(1)));
    SaveShot(&Dlg(), "long-device-name");
}
