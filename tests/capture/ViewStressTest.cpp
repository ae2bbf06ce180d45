// The stress run with the real spectrum view, drawing offscreen: frames are
// composed on the timer's thread and handed to the window while this thread,
// the user-interface thread, starts, stops and handles its events.
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
    RunStartStopStress(view, 200, HandleEventsFor, [&view] {
        view.m_pLeftChannel = nullptr;
        view.m_pRightChannel = nullptr;
        view.m_nDisplayMode = (view.m_nDisplayMode + 1) % 3;
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
