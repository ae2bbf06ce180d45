// The dialog on a real sound server of the test's own: the device list
// follows sources that come and go and a server that restarts, a capture
// through a restart ends cleanly and starts again, and a frozen server
// delays neither the window nor Start.

#include <QElapsedTimer>

#include "devices/PortAudioSession.h"
#include "devices/PulseCaptureDevice.h"
#include "tests/app/AppTestSupport.h"
#include "tests/devices/OnEachServer.h"

using D = CAnalyzerDialog;

namespace {

const QString kMic = QString::fromUtf8(CPrivateSoundServer::kMicDescription);
const QString kUsbMonitor = QStringLiteral("Monitor of Vemra-USB");
const QString kSorry = QStringLiteral("Sorry!\nBut I couldn't open the capture device.\n");

class SoundServerDialogTest : public DialogTest,
                              public ::testing::WithParamInterface<std::tuple<ESoundServer>> {
protected:
    void SetUp() override {
        m_pServer = MakeServer(std::get<0>(GetParam()));
        ASSERT_TRUE(m_pServer->HasFolder());
        ASSERT_TRUE(m_pServer->Start()) << m_pServer->Log();
        m_bShowOnSetUp = false;
        DialogTest::SetUp();
        m_desktop.pfnEnumerateDevices = CaptureEnumerate;
    }

    QComboBox* Devices() { return List(D::IDC_LIST_DEVICE); }
    bool Listed(const QString& strName) { return Devices()->findText(strName) >= 0; }
    bool HasServerSources() { return Listed(kMic); }
    // Waits, the user interface running, for the list to satisfy bWanted.
    template <typename F> bool ListWithin(int nMs, F bWanted) {
        return QTest::qWaitFor([&] { return bWanted(); }, nMs);
    }
    void ShowAndWaitForTheServer() {
        ShowDialog();
        ASSERT_TRUE(ListWithin(5000, [this] { return HasServerSources(); }));
        ASSERT_TRUE(QTest::qWaitFor(
            [this] { return Dlg().Devices().Watcher()->IsFollowingServer(); }, 3000));
    }
    bool SignalLost() { return Dlg().View()->m_bSignalLost.load(); }

    std::unique_ptr<CPrivateSoundServer> m_pServer;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(OnEachServer, SoundServerDialogTest, ::testing::Combine(kEachServer),
                         SServerName());

TEST_P(SoundServerDialogTest, ASinkLoadedWhileTheWindowIsOpenIsListedWithinASecond) {
    ShowAndWaitForTheServer();
    EXPECT_EQ(Devices()->itemText(0),
              QStringLiteral("Primary capture device (") + kMic + QStringLiteral(")"));
    EXPECT_EQ(Devices()->currentText(), kMic);

    const int module = m_pServer->LoadModule(
        "module-null-sink sink_name=vemra_usb sink_properties=device.description=Vemra-USB");
    ASSERT_GE(module, 0);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(ListWithin(1000, [this] { return Listed(kUsbMonitor); }));
    std::printf("listed in the window %lld ms after the sink was loaded\n",
                static_cast<long long>(timer.elapsed()));
    EXPECT_EQ(Devices()->currentText(), kMic); // the selection stays where it was
    Devices()->setCurrentIndex(Devices()->findText(kUsbMonitor));

    ASSERT_TRUE(m_pServer->UnloadModule(module));
    ASSERT_TRUE(ListWithin(1000, [this] { return !Listed(kUsbMonitor); }));
    EXPECT_EQ(Devices()->currentIndex(), 1);
}

// The server restarts under a running capture: the display says that no sound
// arrives, Stop is prompt, the list loses the server and gets it back by
// itself, and a new Start records again.
TEST_P(SoundServerDialogTest, ARestartUnderARunningCapture) {
    ASSERT_TRUE(m_pServer->PlayTone(CPrivateSoundServer::kSink, 440, 440));
    ShowAndWaitForTheServer();
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return std::abs(Dlg().Engine()->m_chanLeft.m_dPeakHz.load() - 440) < 1; }, 5000));

    m_pServer->Stop(SIGKILL);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(QTest::qWaitFor([this] { return SignalLost(); }, 3000));
    EXPECT_LT(timer.elapsed(), 1000);
    timer.restart();
    ClickStop();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(ListWithin(1000, [this] { return !HasServerSources(); }));

    ASSERT_TRUE(m_pServer->Start()) << m_pServer->Log();
    ASSERT_TRUE(m_pServer->PlayTone(CPrivateSoundServer::kSink, 1000, 1000));
    ASSERT_TRUE(
        ListWithin(CDeviceWatcher::kLongestRetryMs + 2000, [this] { return HasServerSources(); }));
    EXPECT_TRUE(Dlg().Devices().Watcher()->IsFollowingServer());
    // Nobody chose the stand-in selected while the server was away.
    EXPECT_EQ(Devices()->currentText(), kMic);
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_TRUE(m_prompts.empty());
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return std::abs(Dlg().Engine()->m_chanLeft.m_dPeakHz.load() - 1000) < 1; }, 5000));
    EXPECT_FALSE(SignalLost());
    ClickStop();
}

// Opening the list while the server is followed probes nothing (the server
// reports its sources and cards itself), so a Start right after picking an
// entry opens it, and is never told that the devices are still looked for.
TEST_P(SoundServerDialogTest, StartRightAfterOpeningTheListOpensTheEntryPicked) {
    ShowAndWaitForTheServer();
    const auto probed = [] {
        std::lock_guard lock(CPortAudioSession::Lock());
        return CPortAudioSession::Probed();
    };
    // Not held here: a session in use is not probed anew.
    const std::weak_ptr<CPortAudioSession> pBefore = probed();
    Devices()->showPopup();
    Devices()->hidePopup();
    Devices()->setCurrentIndex(Devices()->findText(kMic));
    ClickStart();
    EXPECT_NE(Dlg().Engine(), nullptr);
    EXPECT_TRUE(m_prompts.empty()) << m_prompts[0].strText.toStdString();
    QTest::qWait(300);
    EXPECT_FALSE(pBefore.expired()) << "opening the list probed the devices anew";
    ClickStop();
}

// Frozen before the program starts: the window is up while the devices are
// still being looked for, and Start on the server says why within a second.
TEST_P(SoundServerDialogTest, AFrozenServerDelaysNeitherTheWindowNorStart) {
    m_pServer->Pause();
    QElapsedTimer timer;
    timer.start();
    m_pDialog = std::make_unique<CAnalyzerDialog>(m_desktop);
    m_pDialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pDialog.get()));
    // Asking the frozen server alone takes a second: the window did not wait.
    EXPECT_TRUE(Dlg().Devices().IsLookingForDevices());
    std::printf("window shown %lld ms after it was made, with a frozen server\n",
                static_cast<long long>(timer.elapsed()));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !Dlg().Devices().IsLookingForDevices(); }, 6000));
    EXPECT_FALSE(HasServerSources());
    // The first entry says why, rather than offering the built-in signal.
    EXPECT_EQ(Devices()->itemText(0),
              QStringLiteral("Primary capture device (the sound server is not answering)"));

    Devices()->setCurrentIndex(0); // the default input: the frozen server's
    timer.restart();
    ClickStart();
    EXPECT_LT(timer.elapsed(), 1100);
    EXPECT_EQ(Dlg().Engine(), nullptr);
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_EQ(m_prompts[0].strText, kSorry + QStringLiteral("The sound server is not answering."));
    m_pServer->Resume();
}
