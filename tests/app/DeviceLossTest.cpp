// Devices that go away or refuse a set-up, seen through the dialog: the running
// display says that no sound arrives, Stop and a later Start work, and a
// device that cannot be opened gives the apology without hanging.
#include <QElapsedTimer>

#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

namespace {

const QString kSorry = QStringLiteral("Sorry!\nBut I couldn't open the capture device.\n");

class DeviceLossDialogTest : public DialogTest {
protected:
    // Pixels of a text box (dark grey) in the middle rows of the plot of the
    // picture last handed to the window; nothing else draws one there while
    // the readouts are off.
    int MessagePixels() const {
        const QImage img = m_pDialog->View()->FrontImage();
        const int nMiddle = m_pDialog->View()->m_nPlotBottom / 2;
        int n = 0;
        for (int y = std::max(0, nMiddle - 20); y < std::min(img.height(), nMiddle + 20); ++y)
            for (int x = 28; x < img.width(); ++x)
                n += img.pixel(x, y) == qRgb(32, 32, 32) ? 1 : 0;
        return n;
    }
    bool MessageShown() const { return MessagePixels() > 500; }

    // Waits, the user interface running, until the engine begins a new cycle.
    bool WaitForNextCycle(int nTimeoutMs = 3000) {
        CCaptureEngine* pEngine = Dlg().Engine();
        int nMax = 0;
        return QTest::qWaitFor(
            [&] {
                const int n = pEngine->m_nPassCount.load();
                if (n < nMax)
                    return true;
                nMax = std::max(nMax, n);
                return false;
            },
            nTimeoutMs);
    }

    void StartOnScripted() {
        ChooseSetup(kScripted, "44100 Hz", "4096");
        ClickStart();
        ASSERT_NE(Dlg().Engine(), nullptr);
    }
};

} // namespace

TEST_F(DeviceLossDialogTest, ADeviceThatStopsDeliveringIsSaidSoAndStopAndStartStillWork) {
    StartOnScripted();
    ASSERT_TRUE(WaitForNextCycle()) << "the first cycle never ended";
    EXPECT_FALSE(MessageShown());

    // Server gone, device unplugged: the backend's positions fail from now on.
    m_devices.pGood->LastBuffer()->MarkFailed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return MessageShown(); }, 3000));
    // The cycle goes on: another one begins after the loss.
    ASSERT_TRUE(WaitForNextCycle()) << "the cycle stopped after the loss";
    EXPECT_TRUE(MessageShown());

    QElapsedTimer timer;
    timer.start();
    ClickStop();
    EXPECT_LT(timer.elapsed(), 1000) << "Stop held up the user interface";
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_TRUE(Ctl(D::IDC_START)->isVisible());
    // The idle page replaces the message once the window has repainted.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !MessageShown(); }, 3000));

    // The device is back: a new Start opens it again and the message is gone.
    StartOnScripted();
    EXPECT_EQ(m_devices.pGood->m_nOpens.load(), 2);
    ASSERT_TRUE(WaitForNextCycle());
    EXPECT_FALSE(MessageShown());
    EXPECT_TRUE(m_prompts.empty());
    ClickStop();
}

TEST_F(DeviceLossDialogTest, ADeviceThatIsGoneAtStartSaysSorryAndOpensWhenItIsBack) {
    m_devices.pGood->m_nOpenResult = kCaptureErrNoDevice;
    ChooseSetup(kScripted, "44100 Hz", "4096");
    ClickStart();
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_EQ(m_prompts[0].strText, kSorry + "The device is busy or has been removed.");
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_TRUE(Ctl(D::IDC_START)->isVisible());

    m_devices.pGood->m_nOpenResult = 0;
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(m_prompts.size(), 1u);
    ClickStop();
}

// A device that opens but refuses the rate or format of the ring.
TEST_F(DeviceLossDialogTest, ARefusedRateOrFormatSaysSorryAndLetsGoOfTheDevice) {
    m_devices.pGood->m_nCreateBufferResult = kCaptureErrBadFormat;
    ChooseSetup(kScripted, "11025 Hz", "2048");
    QElapsedTimer timer;
    timer.start();
    ClickStart();
    EXPECT_LT(timer.elapsed(), 1000);
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_EQ(m_prompts[0].strText, kSorry + "This device does not offer 11025 Hz.");
    EXPECT_EQ(m_prompts[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_EQ(m_devices.pGood->m_nOpens.load(), 1);
    EXPECT_EQ(m_devices.pGood->LastBuffer(), nullptr); // no ring was made
    // Only the test's own reference to the device is left.
    m_devices.pGood->AddRef();
    EXPECT_EQ(m_devices.pGood->Release(), 1u);
    for (int nId : SetupGroup())
        EXPECT_TRUE(Ctl(nId)->isVisible()) << nId;
    EXPECT_EQ(Dlg().View()->m_pLeftChannel.load(), nullptr);

    // Another set-up the device accepts starts at once.
    m_devices.pGood->m_nCreateBufferResult = 0;
    ChooseSetup(kScripted, "44100 Hz", "2048");
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(m_prompts.size(), 1u);
    ClickStop();
}
