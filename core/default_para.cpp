#include "core/default_para.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"

namespace {

DefaultParaImage build()
{
    // Built as a block, then laid out as the file.
    unsigned char b[para::kBlockSize] = {};
    setLe16(b, para::kUnused770, 100);
    for (int i = 0; i < para::kInputCount; ++i) {
        const bool uhd = i >= 4;
        setLe16(b, para::edid(i), uhd ? 3840 : 1920);
        setLe16(b, para::edid(i) + 2, uhd ? 2160 : 1080);
        setLe16(b, para::edid(i) + 4, 60);
    }
    setLe16(b, para::kSpliceMode, 4);
    setLe16(b, para::kLedWidth, 1920);
    setLe16(b, para::kLedHeight, 1080);
    const uint16_t panel[7] = {0, 0, 1, 1, 1920, 1080, 0};
    for (int i = 0; i < 7; ++i)
        setLe16(b, para::kPanelResult + 2 * i, panel[i]);
    for (int out : {para::kOut1, para::kOut2}) {
        setLe16(b, out + 4, 1920);
        setLe16(b, out + 6, 1080);
    }
    // The 40 crop records and the 24 records of the same form after them
    // (1872 to 2111), the one at 2092 with width 0.
    for (int k = 0; k < para::kCropCount + 24; ++k) {
        const int off = para::crop(k);
        setLe16(b, off, 2);
        setLe16(b, off + 6, off == 2092 ? 0 : 1920);
        setLe16(b, off + 8, 1080);
    }
    setLe16(b, para::kBrightness, 100);
    setLe16(b, para::kContrast, 50);
    setLe16(b, para::kSharpness, 10);
    setLe16(b, para::kSaturation, 50);
    setLe16(b, para::kColorTempType, 2);
    setLe16(b, para::kRedGain, 64);
    setLe16(b, para::kGreenGain, 64);
    setLe16(b, para::kBlueGain, 64);
    for (int l = 0; l < para::kLayerCount; ++l)
        setLe16(b, para::kLayerPriority + 2 * l, static_cast<uint16_t>(l));
    setLe16(b, para::kUnused2270, 1);
    const uint16_t inputs[6] = {2, 5, 3, 4, 1, 0};
    for (int l = 0; l < 6; ++l) {
        const int off = para::layer(l);
        setLe16(b, off + para::kLayerEnable, l == 0 ? 1 : 0);
        setLe16(b, off + para::kLayerInput, inputs[l]);
        setLe16(b, off + para::kLayerW, 1920);
        setLe16(b, off + para::kLayerH, 1080);
    }

    DefaultParaImage image{};
    image[0] = 0xAA;
    image[1] = 0xAA;
    for (int j = 2; j < 2 + para::kPersistSize; ++j)
        image[j] = b[j + kDefaultImageShift];
    return image;
}

} // namespace

const DefaultParaImage& defaultParaImage()
{
    static const DefaultParaImage image = build();
    return image;
}
