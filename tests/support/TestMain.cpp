// Runs a test program with a scratch HOME (the program writes its files and the globe's caches
// there), headless unless a display platform was asked for, and one QApplication.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    char home[] = "/tmp/vostrel-test-home-XXXXXX";
    if (::mkdtemp(home) == nullptr) return 2;
    ::setenv("HOME", home, 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                             "XDG_RUNTIME_DIR"}) {
        ::unsetenv(name);
    }
    ::setenv("QT_QPA_PLATFORM",
             std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen", 1);

    ::testing::InitGoogleTest(&argc, argv);
#ifdef VOSTREL_TEST_WITHOUT_APPLICATION
    const int rc = RUN_ALL_TESTS();
#else
    int rc;
    {
        QApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
    }
#endif
    if (std::getenv("VOSTREL_KEEP_TEST_HOME") == nullptr) QDir(home).removeRecursively();
    return rc;
}
