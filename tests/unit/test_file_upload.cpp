// PC file uploads: each file type to its place, the MD5 check of the whole
// file, one upload at a time, and the kernel and logo images written to
// their flash partitions.
#include "support/link_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "link/link_global.h"
#include "sendcard/fpga_manage.h"
#include "sim/board.h"
#include "sim/mtd_model.h"
#include "ui/shell/shell_global.h"

#include <QSettings>

using namespace pcclient;

namespace {

constexpr unsigned char kStart = 0x90, kData = 0x91, kEnd = 0x92;

Bytes textBytes(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 131 + seed) >> 3);
    return b;
}

} // namespace

class FileUpload : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        QObject::connect(store, &ZdrRamPara::sig_update_para, [this](int code) { syncCodes.push_back(code); });
    }

    // The whole upload through the dispatcher: the end status.
    unsigned char upload(unsigned char type, const std::string& tag, const Bytes& data, const std::string& md5 = "",
                         message_deal::Origin origin = defaultOrigin())
    {
        Reply r = call(kProcessor, kStart, fileStartPayload(type, tag, static_cast<uint32_t>(data.size())), 0, origin);
        if (r.status != 0)
            return r.status;
        for (size_t off = 0; off < data.size(); off += 1000) {
            const size_t n = std::min<size_t>(1000, data.size() - off);
            r = call(kProcessor, kData, fileDataPayload(static_cast<uint32_t>(off), data.data() + off, n), 0, origin);
            if (r.status != 0)
                return r.status;
        }
        return call(kProcessor, kEnd, fileEndPayload(md5.empty() ? md5Hex(data) : md5), 0, origin).status;
    }

    Bytes fileAt(const std::string& systemPath) { return fileBytes(systemPath); }

    std::vector<int> syncCodes;
};

TEST_F(FileUpload, EachTypeGoesToItsPlace)
{
    const Bytes alias = textBytes("{\"namelist\":{}}");
    EXPECT_EQ(upload(5, "ALIS", alias), 0);
    EXPECT_EQ(fileAt("/data/configs/alias.json"), alias);
    EXPECT_EQ(upload(8, "OSDS", textBytes("{\"osdcount\":0}")), 0);
    EXPECT_EQ(fileAt("/data/configs/omenu.json"), textBytes("{\"osdcount\":0}"));
    EXPECT_EQ(upload(7, "MO0A", textBytes("m10")), 0);
    EXPECT_EQ(fileAt("/data/modes/MO0a.json"), textBytes("m10"));
    EXPECT_EQ(upload(7, "MO10", textBytes("m16")), 0);
    EXPECT_EQ(fileAt("/data/modes/MO10.json"), textBytes("m16"));
    const Bytes kq = pattern(3000, 1);
    EXPECT_EQ(upload(9, "KQFX", kq), 0);
    EXPECT_EQ(fileAt("/data/rcvrecovery/KQFX"), kq);
    EXPECT_EQ(upload(13, "KQFR", kq), 0);
    EXPECT_EQ(fileAt("/data/smartmapping/KQFR"), kq);
    EXPECT_EQ(syncCodes, (std::vector<int>{103, 103, 103, 103, 103, 103}));
    EXPECT_TRUE(ranCommand("sync"));
}

TEST_F(FileUpload, AWrongDigestInstallsNothing)
{
    writeFile(hostPath("/data/configs/alias.json"), "old");
    const Bytes data = textBytes("{\"namelist\":{\"source\":[]}}");
    Bytes other = data;
    other[3] ^= 1;
    EXPECT_EQ(upload(5, "ALIS", data, md5Hex(other)), 3);
    EXPECT_EQ(readFile(hostPath("/data/configs/alias.json")), "old");
    EXPECT_TRUE(syncCodes.empty());
    // The digest may be written in capitals; a malformed one is refused.
    std::string upper = md5Hex(data);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(upload(5, "ALIS", data, upper), 0);
    EXPECT_EQ(fileAt("/data/configs/alias.json"), data);
    EXPECT_EQ(upload(5, "ALIS", data, std::string(31, 'a') + "g"), 1);
}

TEST_F(FileUpload, TypesTagsAndSizesAreChecked)
{
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(7, "ALIS", 10)).status, 1);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(5, "OSDS", 10)).status, 1);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(7, "MO11", 10)).status, 1);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(7, "MO00", 10)).status, 1);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(7, "MO/.", 10)).status, 1);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(4, "ALIS", 10)).status, 1);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(5, "ALIS", 0)).status, 1);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(5, "ALIS", kFileBufSize + 1)).status, 1);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(5, "ALIS", kFileBufSize)).status, 0);
}

TEST_F(FileUpload, DataMustStayInsideTheDeclaredSizeWithoutGaps)
{
    const Bytes data = pattern(100, 2);
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(9, "KQFX", 100)).status, 0);
    // A block beyond the end, or one that leaves a gap, is refused.
    EXPECT_EQ(callProcessor(kData, fileDataPayload(60, data.data(), 50)).status, 1);
    Reply r = callProcessor(kData, fileDataPayload(0, data.data(), 60));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(le32(r.data.data(), 0), 60u);
    EXPECT_EQ(callProcessor(kData, fileDataPayload(70, data.data() + 70, 30)).status, 1);
    EXPECT_EQ(callProcessor(kData, fileDataPayload(0xFFFFFFF0u, data.data(), 20)).status, 1);
    // An incomplete upload fails at its end, and the upload is over.
    EXPECT_EQ(callProcessor(kEnd, fileEndPayload(md5Hex(data))).status, 3);
    EXPECT_FALSE(exists(hostPath("/data/rcvrecovery/KQFX")));
    EXPECT_EQ(callProcessor(kData, fileDataPayload(60, data.data() + 60, 40)).status, 1);

    // Repeating a block is allowed.
    EXPECT_EQ(callProcessor(kStart, fileStartPayload(9, "KQFX", 100)).status, 0);
    EXPECT_EQ(callProcessor(kData, fileDataPayload(0, data.data(), 60)).status, 0);
    EXPECT_EQ(callProcessor(kData, fileDataPayload(40, data.data() + 40, 60)).status, 0);
    EXPECT_EQ(callProcessor(kData, fileDataPayload(0, data.data(), 10)).status, 0);
    EXPECT_EQ(callProcessor(kEnd, fileEndPayload(md5Hex(data))).status, 0);
    EXPECT_EQ(fileAt("/data/rcvrecovery/KQFX"), data);
}

TEST_F(FileUpload, OneUploadAtATime)
{
    message_deal::Origin a = defaultOrigin(), b = defaultOrigin();
    b.transport = 2;
    b.peer = 9;
    const Bytes da = pattern(500, 3), db = pattern(500, 4);
    G_timeTicks = 100;
    EXPECT_EQ(call(kProcessor, kStart, fileStartPayload(5, "ALIS", 500), 0, a).status, 0);
    EXPECT_EQ(call(kProcessor, kData, fileDataPayload(0, da.data(), 250), 0, a).status, 0);
    // Another peer can neither start nor feed nor end it.
    EXPECT_EQ(call(kProcessor, kStart, fileStartPayload(8, "OSDS", 500), 0, b).status, 2);
    EXPECT_EQ(call(kProcessor, kData, fileDataPayload(250, db.data() + 250, 250), 0, b).status, 2);
    EXPECT_EQ(call(kProcessor, kEnd, fileEndPayload(md5Hex(db)), 0, b).status, 2);
    EXPECT_EQ(call(kProcessor, kData, fileDataPayload(250, da.data() + 250, 250), 0, a).status, 0);
    EXPECT_EQ(call(kProcessor, kEnd, fileEndPayload(md5Hex(da)), 0, a).status, 0);
    EXPECT_EQ(fileAt("/data/configs/alias.json"), da);

    // Once an upload has been silent for 30 s another peer may take over.
    EXPECT_EQ(call(kProcessor, kStart, fileStartPayload(5, "ALIS", 500), 0, a).status, 0);
    G_timeTicks = 100 + 2999;
    EXPECT_EQ(call(kProcessor, kStart, fileStartPayload(8, "OSDS", 500), 0, b).status, 2);
    G_timeTicks = 100 + 3000;
    EXPECT_EQ(upload(8, "OSDS", db, "", b), 0);
    EXPECT_EQ(fileAt("/data/configs/omenu.json"), db);
    EXPECT_EQ(call(kProcessor, kData, fileDataPayload(0, da.data(), 10), 0, a).status, 1);

    // The card jobs' files are not replaced under a running job: the packed
    // file while a check (5) or restore (6) runs, the scan file while a
    // load (2) runs; at the start, and at the end of an upload begun before.
    const Bytes old = pattern(300, 5), fresh = pattern(300, 6);
    ASSERT_EQ(upload(9, "KQFX", old), 0);
    ASSERT_EQ(upload(13, "KQFR", old), 0);
    for (unsigned char job : {5, 6}) {
        g_send_para.code = job;
        EXPECT_EQ(upload(9, "KQFX", fresh), 2) << int(job);
        EXPECT_EQ(upload(13, "KQFR", fresh), 0) << int(job);
        ASSERT_EQ(upload(13, "KQFR", old), 0);
    }
    g_send_para.code = 0;
    EXPECT_EQ(call(kProcessor, kStart, fileStartPayload(13, "KQFR", 300), 0, a).status, 0);
    EXPECT_EQ(call(kProcessor, kData, fileDataPayload(0, fresh.data(), 300), 0, a).status, 0);
    g_send_para.code = 2;
    EXPECT_EQ(call(kProcessor, kEnd, fileEndPayload(md5Hex(fresh)), 0, a).status, 2);
    g_send_para.code = 0;
    EXPECT_EQ(fileAt("/data/rcvrecovery/KQFX"), old);
    EXPECT_EQ(fileAt("/data/smartmapping/KQFR"), old);
    EXPECT_EQ(upload(9, "KQFX", fresh), 0);
    EXPECT_EQ(fileAt("/data/rcvrecovery/KQFX"), fresh);
}

TEST_F(FileUpload, KernelAndLogoGoToTheirFlashPartitions)
{
    const Bytes kernel = pattern(0x20000 + 0x900, 5);   // more than one erase block, a partial page
    EXPECT_EQ(upload(2, "KERN", kernel), 0);
    const Bytes part = fileAt("/dev/mtd10");
    ASSERT_GE(part.size(), kernel.size() + 0x1000);
    EXPECT_TRUE(std::equal(kernel.begin(), kernel.end(), part.begin()));
    // The rest of the last erase block is erased.
    for (size_t i = kernel.size(); i < 0x40000; ++i)
        ASSERT_EQ(part[i], 0xFF) << i;
    EXPECT_EQ(sim::Board::instance().mtd().eraseCount("/dev/mtd10"), 2u);
    EXPECT_EQ(syncCodes, std::vector<int>{103});

    const Bytes logo = pattern(5000, 6);
    EXPECT_EQ(upload(3, "LOGO", logo), 0);
    const Bytes logoPart = fileAt("/dev/mtd8");
    EXPECT_TRUE(std::equal(logo.begin(), logo.end(), logoPart.begin()));

    // An image larger than its partition, or a flash that fails, is a failure.
    EXPECT_EQ(upload(3, "LOGO", pattern(0x100001, 7)), 3);
    sim::Board::instance().mtd().setFault("/dev/mtd8", sim::MtdModel::Fault::Erase);
    EXPECT_EQ(upload(3, "LOGO", logo), 3);
    EXPECT_EQ(syncCodes, (std::vector<int>{103, 103}));
}

TEST_F(FileUpload, AnApplicationReplacesTheRunningOneAndAsksForAReboot)
{
    writeFile(hostPath("/data/app/zdrK47N"), "old program");
    g_update_status = 0;
    G_timeTicks = 77;
    const Bytes app = pattern(20000, 8);
    EXPECT_EQ(upload(1, "APPL", app), 0);
    EXPECT_EQ(fileAt("/data/app/zdrK47N"), app);
    EXPECT_FALSE(exists(hostPath("/data/app/zdrK47N2")));
    EXPECT_TRUE(ranCommand("mv /data/app/zdrK47N2  /data/app/zdrK47N"));
    QSettings ini(QString::fromStdString(hostPath("/data/configs/led_load_config.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value("app-1/app_path").toString(), "/data/app/zdrK47N -platform linuxfb");
    EXPECT_EQ(ini.value("app-1/app_name").toString(), "zdrK47N");
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 77u);
}
