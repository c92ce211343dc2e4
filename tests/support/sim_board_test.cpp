#include "support/sim_board_test.h"

#include "core/global.h"
#include "platform/platform.h"
#include "sim/board.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

void SimBoardTest::SetUp()
{
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    root_ = dir_->path().toStdString() + "/root";
    platform::selectBackend(platform::Backend::Sim);
    sim::Board::instance().reset(root_);
    ASSERT_TRUE(sim::Board::instance().prepareFileSystem());
    G_timeTicks = 0;
}

void SimBoardTest::TearDown()
{
    dir_.reset();
}

std::string SimBoardTest::hostPath(const std::string& systemPath) const
{
    return platform::boardPath(systemPath);
}

std::string SimBoardTest::readFile(const std::string& hostPath)
{
    std::ifstream in(hostPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void SimBoardTest::writeFile(const std::string& hostPath, const std::string& data)
{
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out << data;
}

bool SimBoardTest::exists(const std::string& hostPath)
{
    struct stat st;
    return ::stat(hostPath.c_str(), &st) == 0;
}
