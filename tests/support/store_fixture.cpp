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

void StoreTest::pcWrites(int offset, const std::vector<unsigned char>& bytes)
{
    std::vector<unsigned char> copy = bytes;
    ASSERT_EQ(ZdrRamPara::p_zdrrampara_config->ZdrRamParaDeal(copy.data(), static_cast<unsigned short>(copy.size()),
                                                             static_cast<unsigned int>(offset)),
              0);
    c331_manage::para_change_flag = 1;
}

std::vector<unsigned char> StoreTest::fileBlockBytes(int offset, int n) const
{
    const auto file = fileBytes("/data/ram_device_info");
    if (file.size() != 4096u)
        return {};
    return std::vector<unsigned char>(file.begin() + 2 + offset - 768, file.begin() + 2 + offset - 768 + n);
}

void StoreTest::expectStoredEverywhere(int offset, const std::vector<unsigned char>& bytes) const
{
    const ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    const int n = static_cast<int>(bytes.size());
    EXPECT_EQ(std::vector<unsigned char>(store->ram_para + offset, store->ram_para + offset + n), bytes)
        << "block " << offset;
    EXPECT_EQ(std::vector<unsigned char>(store->ram_para_shadow + offset, store->ram_para_shadow + offset + n), bytes)
        << "shadow " << offset;
    EXPECT_EQ(fileBlockBytes(offset, n), bytes) << "file " << offset;
}
