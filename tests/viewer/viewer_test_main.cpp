// The viewer tests run inside one application object, on the offscreen platform unless another
// is asked for.
#include <gtest/gtest.h>

#include <QApplication>

// Under the leak checker: the font configuration and message-bus libraries keep caches for the
// life of the process; leaks with our own frames on top still count.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
