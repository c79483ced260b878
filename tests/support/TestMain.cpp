#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#ifdef CLIPVANE_TEST_GUI
#include <QApplication>
#else
#include <QCoreApplication>
#endif

int main(int argc, char** argv)
{
    // Before Qt starts: a private runtime folder, the offscreen platform, and
    // per-process XDG folders so that no test touches the real home.
    TestEnvironment::PrepareProcess();
#ifdef CLIPVANE_TEST_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
