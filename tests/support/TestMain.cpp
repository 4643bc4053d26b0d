// Runs a test program with a scratch HOME (the program writes its files and the globe's caches
// there), headless unless a display platform was asked for, and one QApplication.
#include <gtest/gtest.h>

#include "kit/PlainKit.h"
#ifndef VOSTREL_TEST_WITHOUT_APPLICATION
#include <QApplication>
#endif

int main(int argc, char** argv) {
    const vostrel::test::ScratchHome home;
    ::testing::InitGoogleTest(&argc, argv);
#ifdef VOSTREL_TEST_WITHOUT_APPLICATION
    return RUN_ALL_TESTS();
#else
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
#endif
}
