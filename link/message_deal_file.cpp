// PC file uploads: start (type, tag, size), data blocks (offset, bytes) and
// end (the MD5 digest of the whole file as 32 hexadecimal characters). One
// upload at a time, held in the shared buffer fileBuf_velmo; a file is
// installed only when its digest matches, as a whole (a reader sees the old
// file or the new one).
#include "core/atomic_file.h"
#include "platform/nodes.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/md5.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "link/message_deal.h"
#include "platform/platform.h"
#include "sendcard/fpga_manage.h"
#include "ui/screen/smartmapping.h"
#include "ui/shell/shell_global.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <cctype>
#include <cstring>

using namespace link_frame;

namespace {

// An upload silent for this many ticks may be taken over by another peer.
constexpr unsigned int kStaleTicks = 3000;

enum class Install { File, Mtd, Application };

struct FileType {
    unsigned char type;
    const char* tag;     // four characters; "MO" + two hex digits for type 7
    const char* path;    // system path (the MTD node for images)
    Install how;
};

const FileType kFileTypes[] = {
    {1, "APPL", "/data/app/zdrK47N2", Install::Application},
    {2, "KERN", platform::nodes::kKernelMtd, Install::Mtd},
    {3, "LOGO", platform::nodes::kLogoMtd, Install::Mtd},
    {5, "ALIS", "/data/configs/alias.json", Install::File},
    {7, "MO", "/data/modes/MO", Install::File},
    {8, "OSDS", "/data/configs/omenu.json", Install::File},
    {9, "KQFX", "/data/rcvrecovery/KQFX", Install::File},
    {13, "KQFR", "/data/smartmapping/KQFR", Install::File},
};

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The type entry for a type number and tag, with the user-mode menu's
// number normalised into name (lower-case hex); null when they do not
// name a known file.
const FileType* findType(unsigned char type, const unsigned char* tag, char name[5])
{
    for (const FileType& t : kFileTypes) {
        if (t.type != type)
            continue;
        if (type == 7) {
            if (tag[0] != 'M' || tag[1] != 'O')
                return nullptr;
            const int hi = hexDigit(static_cast<char>(tag[2]));
            const int lo = hexDigit(static_cast<char>(tag[3]));
            const int mode = hi < 0 || lo < 0 ? 0 : hi * 16 + lo;
            if (mode < 1 || mode > 16)
                return nullptr;
            std::snprintf(name, 5, "MO%02x", mode);
            return &t;
        }
        if (std::memcmp(tag, t.tag, 4) != 0)
            return nullptr;
        std::memcpy(name, t.tag, 4);
        name[4] = 0;
        return &t;
    }
    return nullptr;
}

const FileType* typeOf(const ZdrFileDealPara& f)
{
    char name[5];
    return findType(f.type, reinterpret_cast<const unsigned char*>(f.name), name);
}

std::string targetPath(const FileType& t, const ZdrFileDealPara& f)
{
    if (t.type == 7)
        return std::string(t.path) + (f.name + 2) + ".json";
    return t.path;
}

// A parameter file a receiving-card job is reading is not replaced under
// it: the packed file during a check or restore, the scan file during a
// load.
bool readByACardJob(const FileType& t)
{
    const unsigned char job = fpga_card_job();
    return (t.type == 9 && (job == 5 || job == 6)) || (t.type == 13 && job == 2);
}

bool ownedBy(const ZdrFileDealPara& f, const message_deal::Origin& origin)
{
    return f.active && f.transport == origin.transport && f.peer == origin.peer;
}

bool writeRegularFile(const std::string& systemPath, const unsigned char* data, unsigned size)
{
    const QString host = platform::boardPath(QString::fromStdString(systemPath));
    if (!QDir().mkpath(QFileInfo(host).absolutePath()))
        return false;
    // The card jobs count the files of their folders: the temporary is
    // kept out of them.
    const bool listed = systemPath.rfind("/data/rcvrecovery/", 0) == 0 || systemPath.rfind("/data/smartmapping/", 0) == 0;
    return writeFileAtomically(host.toStdString(), data, size,
                               listed ? platform::boardPath(std::string(kUploadTemporary)) : std::string());
}

bool writeMtd(const std::string& node, const unsigned char* data, unsigned size)
{
    platform::Mtd& mtd = platform::mtd();
    const int fd = mtd.open(node);
    if (fd < 0)
        return false;
    platform::MtdInfo info;
    const bool fits = mtd.getInfo(fd, info) == 0 && size <= info.size;
    const bool erased = fits && Utils::non_region_erase(fd, 0, static_cast<int>(size), 1) == 0;
    const bool ok = erased && Utils::non_region_write(fd, data, static_cast<int>(size), 0) == 0;
    mtd.close(fd);
    // A flash partition has no second copy: once the erase has begun the
    // old image is gone, and a failure leaves the partition without one.
    if (fits && !ok)
        writeLogMsg(ERROR, "flash image not written, " + node + " holds no complete image until it is uploaded again");
    return ok;
}

// The application goes over the running one and runs after the reboot.
void finishApplication()
{
    // The launch line first: it names the program's fixed path, which the
    // old program holds until the move; a power cut anywhere then starts
    // the old or the new program, never none.
    if (g_update_status == 0) {
        QSettings ini(platform::boardPath(QString("/data/configs/led_load_config.ini")), QSettings::IniFormat);
        ini.setValue("app-1/app_path", ConfigEngine::kStandardLaunchLine);
        ini.setValue("app-1/app_name", "zdrK47N");
        ini.sync();
    }
    Utils::system_mutex("chmod 777 -R /data/app");
    Utils::system_mutex("mv /data/app/zdrK47N2  /data/app/zdrK47N");
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
}

} // namespace

// Start: type u8, tag (4 characters), size u32 (1 .. 5 MiB).
int message_deal::write_file_start(const unsigned char* frame, int length, const Origin& origin)
{
    const unsigned char* p = frame + kPayload;
    if (length - kHeader - 1 != 9)
        return status(kRefused);
    char name[5] = {0};
    const FileType* t = findType(p[0], p + 1, name);
    const uint32_t size = le32(p, 5);
    if (!t || size == 0 || size > kFileBufSize)
        return status(kRefused);
    if (readByACardJob(*t))
        return status(kBusy);

    QMutexLocker lock(&Utils::_file_deal_mutex);
    ZdrFileDealPara& f = g_zdr_file_deal_para;
    if (f.active && !ownedBy(f, origin) && Utils::getTimeSpace(f.stamp) < kStaleTicks)
        return status(kBusy);
    f = ZdrFileDealPara();
    f.active = true;
    f.type = p[0];
    std::memcpy(f.name, name, sizeof(f.name));
    f.size = size;
    f.transport = origin.transport;
    f.peer = origin.peer;
    f.stamp = G_timeTicks.load();
    return status(kOk);
}

// Data: offset u32, then the bytes. A block may repeat earlier bytes but
// may not leave a gap. Reply: status, bytes received so far (u32).
int message_deal::write_file_data(const unsigned char* frame, int length, const Origin& origin)
{
    const unsigned char* p = frame + kPayload;
    const int plen = length - kHeader - 1;
    if (plen < 5)
        return status(kRefused);
    const uint32_t offset = le32(p, 0);
    const uint32_t count = static_cast<uint32_t>(plen - 4);

    QMutexLocker lock(&Utils::_file_deal_mutex);
    ZdrFileDealPara& f = g_zdr_file_deal_para;
    if (!ownedBy(f, origin))
        return status(f.active ? kBusy : kRefused);
    unsigned char s = kOk;
    if (offset > f.received || count > f.size || offset > f.size - count) {
        s = kRefused;
    } else {
        std::memcpy(fileBuf_velmo + offset, p + 4, count);
        if (offset + count > f.received)
            f.received = offset + count;
        f.stamp = G_timeTicks.load();
    }
    out()[0] = s;
    setLe32(out(), 1, f.received);
    return 5;
}

// End: the MD5 digest of the whole file, 32 hexadecimal characters. The
// upload ends whatever the outcome; the file is installed only when all of
// it arrived and the digest matches.
int message_deal::write_file_end(const unsigned char* frame, int length, const Origin& origin)
{
    const unsigned char* p = frame + kPayload;
    if (length - kHeader - 1 != 32)
        return status(kRefused);
    std::string given(reinterpret_cast<const char*>(p), 32);
    for (char& c : given) {
        if (hexDigit(c) < 0)
            return status(kRefused);
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }

    ZdrFileDealPara done;
    const FileType* t = nullptr;
    bool installed = false;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        ZdrFileDealPara& f = g_zdr_file_deal_para;
        if (!ownedBy(f, origin))
            return status(f.active ? kBusy : kRefused);
        done = f;
        f.active = false;
        t = typeOf(done);
        if (!t || done.received != done.size) {
            writeLogMsg(WARNING, std::string("file upload incomplete: ") + done.name);
            return status(kFailed);
        }
        md5.reset();
        md5.update(fileBuf_velmo, done.size);
        if (md5.toString() != given) {
            writeLogMsg(WARNING, std::string("file upload MD5 mismatch, nothing installed: ") + done.name);
            return status(kFailed);
        }
        if (readByACardJob(*t)) {
            writeLogMsg(WARNING, std::string("file upload not installed while a card job reads it: ") + done.name);
            return status(kBusy);
        }
        const std::string path = targetPath(*t, done);
        installed = t->how == Install::Mtd ? writeMtd(path, fileBuf_velmo, done.size)
                                           : writeRegularFile(path, fileBuf_velmo, done.size);
    }
    if (!installed) {
        writeLogMsg(ERROR, std::string("file upload could not be installed: ") + done.name);
        return status(kFailed);
    }
    Utils::system_mutex("sync");
    if (t->how == Install::Application)
        finishApplication();
    writeLogMsg(INFO, std::string("file installed from the PC: ") + done.name);
    // A new scan file: the mapping wizard's count of them is stale.
    if (t->type == 13)
        SmartMapping::request_close();
    ZdrRamPara::p_zdrrampara_config->test_signal(103);
    return status(kOk);
}
