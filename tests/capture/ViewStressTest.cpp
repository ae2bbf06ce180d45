// The stress run with the real spectrum view, drawing offscreen: frames are
// composed on the view's frame thread and handed to the window while this
// thread, the user-interface thread, starts, stops, resizes, hides and shows
// the view and handles its events.
#include <QApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "tests/capture/EngineStress.h"
#include "view/SpectrumView.h"

namespace {

void HandleEventsFor(uint32_t nMs) {
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        SleepMs(1);
    } while (timer.elapsed() < nMs);
}

} // namespace

TEST(CaptureViewStress, TwoHundredStartStopRunsDrawingIntoTheView) {
    CSpectrumView view;
    view.resize(784, 405);
    view.UpdateBackBuffer();
    view.m_nSpanLowHz = 40;
    view.m_nSpanHighHz = 16000;
    view.m_nDisplayMode = 1; // with the note overlay and peak readout
    view.show();
    // Every few runs the view is resized or hidden and shown again while
    // frames are drawn; the spectrogram comes and goes and changes its
    // history, while the passes write its rows, and octave bands come and go.
    int nRun = 0;
    const auto duringRun = [&view, &nRun](uint32_t nMs) {
        view.SetSpectrogram(nRun % 4 != 0, 5 << (nRun % 4));
        view.SetBands(nRun % 3 == 0 ? 3 : 0);
        HandleEventsFor(nMs / 2);
        if (nRun % 3 == 1) {
            view.resize(784 + 97 * (nRun % 5), 405 + 31 * (nRun % 4));
        } else if (nRun % 3 == 2) {
            view.hide();
            HandleEventsFor(2);
            view.show();
        }
        HandleEventsFor(nMs - nMs / 2);
    };
    RunStartStopStress(view, 200, duringRun, [&view, &nRun] {
        // The engine's Stop had the view let go of the channels.
        EXPECT_EQ(view.m_pLeftChannel.load(), nullptr);
        view.m_nDisplayMode = (view.m_nDisplayMode + 1) % 3;
        ++nRun;
        QCoreApplication::processEvents();
    });
    HandleEventsFor(50);
    EXPECT_FALSE(view.FrontImage().isNull());
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
