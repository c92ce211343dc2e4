#include "support/store_fixture.h"

#include "videochip/c331_manage.h"

#include <fstream>
#include <iterator>

void StoreTest::SetUp()
{
    SimBoardTest::SetUp();
    ZdrRamPara::destroyForTest();
    c331_manage::para_change_flag = 0;
}

void StoreTest::TearDown()
{
    ZdrRamPara::destroyForTest();
    c331_manage::para_change_flag = 0;
    SimBoardTest::TearDown();
}

std::vector<unsigned char> StoreTest::defaultFile() const
{
    const DefaultParaImage& image = defaultParaImage();
    return std::vector<unsigned char>(image.begin(), image.end());
}

void StoreTest::writeParaFile(const std::vector<unsigned char>& bytes)
{
    writeFile(hostPath("/data/ram_device_info"), std::string(bytes.begin(), bytes.end()));
}

ZdrRamPara* StoreTest::load()
{
    return ZdrRamPara::pInstance();
}

std::vector<unsigned char> StoreTest::fileBytes(const std::string& systemPath) const
{
    std::ifstream in(hostPath(systemPath), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
