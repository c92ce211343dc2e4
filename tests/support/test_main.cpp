// Entry point of the test programs: a Qt application (headless) so that
// queued signals, timers and widgets work, then GoogleTest.
#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "sendcard/fpga_manage.h"

namespace {

// A test that leaves the FPGA manager behind would hand it to every later
// test in the process (one that needs no manager then finds one): it is
// named and dropped as the test ends, whatever its fixture remembered.
class LeftBehind : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override
    {
        if (fpga_manage::p_fpga_manage == nullptr)
            return;
        std::fprintf(stderr, "[ left ] %s.%s left the FPGA manager behind; dropped\n", test.test_suite_name(),
                     test.name());
        fpga_manage::destroyForTest();
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's per-user runtime folder lives with the test run, not in /tmp.
    QTemporaryDir runtime;
    if (runtime.isValid()) {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }
    // Tests always run on the simulated board.
    platform::selectBackend(platform::Backend::Sim);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeftBehind);
    return RUN_ALL_TESTS();
}
