// The viewer tests run inside one application object, on the offscreen platform unless another
// is asked for, with settings of their own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

// Under the leak checker: the font configuration and message-bus libraries keep caches for the
// life of the process; leaks with our own frames on top still count.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The user's settings (recent files, last folder) go to a folder of this run alone.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
