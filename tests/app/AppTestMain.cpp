#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

// ThreadSanitizer builds: a frame drawn on the view's frame thread asks the window to
// repaint through a queued call. Qt's event queue hands the call event from
// thread to thread under its own futex-based mutex, which ThreadSanitizer does
// not see in the uninstrumented Qt libraries, so it reports the event's
// allocation, queueing and deletion as races. These entries name only that
// hand-over inside QtCore; races in our code are still reported. On X11, Qt's
// reader thread hands each event it reads to the user-interface thread the
// same way.
extern "C" const char* __tsan_default_suppressions() {
    return "race:QCoreApplication::postEvent\n"
           "race:QCoreApplicationPrivate::sendPostedEvents\n"
           "race:QMetaCallEvent::~QMetaCallEvent\n"
           "race:QMetaObject::invokeMethodImpl\n"
           "race:libQt6XcbQpa.so\n";
}

// The dialog tests need one application object for the whole program; they
// run on the offscreen platform unless told otherwise.
int main(int argc, char** argv) {
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer starts a thread of its own with the program's first
    // one; start it now, so that tests counting the process's threads before
    // and after a run see only the program's.
    std::thread([] {}).join();
#endif
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Calibrations are kept in the user's configuration: the tests keep
    // theirs in a folder of their own, empty at the start.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
