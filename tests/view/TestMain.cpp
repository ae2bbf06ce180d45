#include <QApplication>
#include <gtest/gtest.h>

// ThreadSanitizer builds: a frame drawn on another thread asks the window to
// repaint through a queued call. Qt's event queue hands the call event from
// thread to thread under its own futex-based mutex, which ThreadSanitizer does
// not see in the uninstrumented Qt libraries, so it reports the event's
// allocation, queueing and deletion as races. These entries name only that
// hand-over inside QtCore (and a test's event filter reading such an event);
// races in our code are still reported.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QCoreApplication::postEvent\n"
           "race:QCoreApplicationPrivate::sendPostedEvents\n"
           "race:QCoreApplicationPrivate::sendThroughObjectEventFilters\n"
           "race:QMetaCallEvent::~QMetaCallEvent\n"
           "race:QMetaMethod::invoke\n"
           "race:QMetaObject::invokeMethodImpl\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
