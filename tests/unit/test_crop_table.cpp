// The crop table: numbering per input, adding, deleting and pointing a
// layer at a crop.
#include "support/store_fixture.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "videochip/c331_manage.h"

#include <cstring>

namespace {

class CropTable : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        writeParaFile(defaultFile());
        p = load();
    }
    void setCrop(int k, int input, int number, bool inUse = true)
    {
        setLe16(ParaWriteLock().block(), para::crop(k),
                static_cast<uint16_t>((inUse ? 0x8000 : 0) | ((number - 1) << 8) | input));
        setLe16(ParaWriteLock().block(), para::crop(k) + 2, static_cast<uint16_t>(10 * k));
    }
    ZdrRamPara* p = nullptr;
};

} // namespace

TEST_F(CropTable, NumbersAreListedInOrderAndAllocatedLowestFirst)
{
    CROP_PARA out{-1, -1, -1, -1, -1};
    int index = -1;
    EXPECT_EQ(p->ZdrGetCropID(3, 1), 0);
    EXPECT_EQ(p->ZdrAddCropID(3), 1);
    p->ZdrGetCropPara(3, 1, &out, &index);
    EXPECT_EQ(index, 40);
    EXPECT_EQ(out.head, -1);

    setCrop(5, 3, 3);
    setCrop(9, 3, 1);
    setCrop(2, 1, 2);
    setCrop(4, 3, 2, false);    // free: ignored
    p->ZdrCropSourceInit();
    EXPECT_EQ(p->ZdrAddCropID(3), 2);
    EXPECT_EQ(p->ZdrGetCropID(3, 1), 1);
    EXPECT_EQ(p->ZdrGetCropID(3, 2), 3);
    EXPECT_EQ(p->ZdrGetCropID(3, 3), 0);
    EXPECT_EQ(p->ZdrGetSourceNum(3, 40), 2);
    EXPECT_EQ(p->ZdrGetSourceNum(3, 6), 1);
    EXPECT_EQ(p->ZdrGetSourceNum(3, 0), 0);
    p->ZdrGetCropPara(3, 2, &out, &index);
    EXPECT_EQ(index, 5);
    EXPECT_EQ(out.head, 0x8203);
    EXPECT_EQ(out.x, 50);
    EXPECT_EQ(out.w, 1920);
}

TEST_F(CropTable, HeadsOutsideTheMapAreSkipped)
{
    setCrop(0, 9, 1);           // input 9 does not exist
    setCrop(1, 2, 100);         // crop number 100 does not exist
    setCrop(2, 5, 40);
    p->ZdrCropSourceInit();
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(g_cut_source_state[i], i == 29 ? 0x80 : 0) << i;
    EXPECT_EQ(p->ZdrGetCropID(5, 1), 40);
    EXPECT_EQ(p->ZdrGetCropID(9, 1), 0);
    EXPECT_EQ(p->ZdrAddCropID(6), 0);
}

TEST_F(CropTable, AddSetAndDelete)
{
    setCrop(0, 2, 1);
    p->ZdrCropSourceInit();
    CROP_PARA in{0, 11, 22, 333, 444};
    EXPECT_EQ(p->ZdrAddNewCrop(2, &in), 0);
    EXPECT_EQ(le16(p->ram_para, para::crop(1)), 0x8102);
    EXPECT_EQ(le16(p->ram_para, para::crop(1) + 8), 444);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(p->ZdrGetCropID(2, 2), 0) << "the map changes only on ZdrCropSourceInit";
    p->ZdrCropSourceInit();

    c331_manage::para_change_flag = 0;
    CROP_PARA moved{0x1234, 1, 2, 3, 4};
    p->ZdrSetCropPara(2, 2, &moved);
    EXPECT_EQ(le16(p->ram_para, para::crop(1)), 0x8102) << "the head stays";
    EXPECT_EQ(le16(p->ram_para, para::crop(1) + 2), 1);
    EXPECT_EQ(le16(p->ram_para, para::crop(1) + 8), 4);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1) << "stored and raised under one write lock";

    c331_manage::para_change_flag = 0;
    p->ZdrDeleteCrop(2, 2);
    EXPECT_EQ(le16(p->ram_para, para::crop(1)), 0);
    EXPECT_EQ(le16(p->ram_para, para::crop(1) + 2), 1) << "the rectangle stays";
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);

    c331_manage::para_change_flag = 0;
    p->ZdrDeleteCrop(2, 5);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
    p->ZdrSetCropPara(2, 2, &moved);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0) << "a crop gone meanwhile: nothing stored, nothing raised";
    EXPECT_EQ(le16(p->ram_para, para::crop(1) + 2), 1);
}

TEST_F(CropTable, AFullTableTakesNoNewCrop)
{
    for (int k = 0; k < 40; ++k)
        setCrop(k, k % 6, k / 6 + 1);
    p->ZdrCropSourceInit();
    unsigned char before[4096];
    std::memcpy(before, p->ram_para, 4096);
    CROP_PARA in{0, 1, 1, 1, 1};
    EXPECT_EQ(p->ZdrAddNewCrop(0, &in), 8);
    EXPECT_EQ(std::memcmp(before, p->ram_para, 4096), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
}

TEST_F(CropTable, PointingALayerAtAnInputOrACrop)
{
    // The current mode was persisted: a new layout no longer matches it.
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 4);
    test_store::shadow_word(para::kCurrentMode, 4);
    p->ZdrSetImageSource(0, 4, 2);
    EXPECT_EQ(le16(p->ram_para, para::layer(2) + para::kLayerInput), 4);
    EXPECT_EQ(le16(p->ram_para, para::kCurrentMode), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);

    // A mode recalled and not yet persisted no longer matches it either.
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 5);
    setCrop(7, 1, 2);
    p->ZdrCropSourceInit();
    p->ZdrSetImageSource(1, 1, 3);
    EXPECT_EQ(le16(p->ram_para, para::layer(3) + para::kLayerInput), 0x8007);
    EXPECT_EQ(le16(p->ram_para, para::kCurrentMode), 0);

    // A crop that has gone changes nothing.
    c331_manage::para_change_flag = 0;
    p->ZdrSetImageSource(2, 1, 3);
    p->ZdrSetImageSource(1, 0, 3);
    EXPECT_EQ(le16(p->ram_para, para::layer(3) + para::kLayerInput), 0x8007);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
}
