// The USB upgrade, run by the FPGA thread in place of its pass.
//
// A package (suffix "ZDR" or "ZDRZK") carries a 49-byte header, a table of
// 21-byte entries and the entries' data: a new build of this application,
// bitstreams for the flashes behind the two FPGAs and OSD fonts for the
// c331 chip's serial flash. A package comes from a USB disk and is not
// trusted: its header, its table and every entry it would install are
// checked against the file's size and the destination before anything is
// written, and a package that fails a check installs nothing. Every piece
// is read by reopening the file under Utils::_file_deal_mutex, so that the
// control link's transfers interleave; the pieces go to buffers of the
// upgrade's own, never to the transfer buffer a PC upload may own. A
// bitstream (at most 6.75 MiB) is held whole before its flash is erased,
// as the application is staged before it replaces the old one: a disk
// pulled or a package cut short leaves the old bitstream, and the result
// says for each FPGA whether its flash holds the old bitstream, the whole
// new one or none. From the first erase of a flash until its new bitstream
// is verified a mark on the disk says the write is under way: a power cut
// meanwhile is named at the next start.
#include "sendcard/fpga_manage.h"

#include "core/atomic_file.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "platform/platform.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::atomic<unsigned int> g_usb_grade{0};
std::atomic<unsigned char> g_update_flag{0};

namespace {

constexpr unsigned kHeaderSize = 49;
constexpr unsigned kEntrySize = 21;
constexpr unsigned kChildHeaderSize = 64;
constexpr unsigned kFontHeaderSize = 35;
constexpr unsigned kTxcChunk = 32768;
constexpr unsigned kFontChunk = 16384;
constexpr unsigned kFlashRoom = 4;           // page-program header room
constexpr unsigned short kControllerType = 0x6C52;
constexpr unsigned char kPublishSkip = 0x80;
constexpr unsigned char kStatusFonts = 43;
const unsigned char kAppVersion[6] = {24, 8, 2, 11, 2, 1};

enum EntryType : unsigned char { kApp = 10, kFpga0 = 7, kFpga1 = 8, kFont = 13 };

// Each FPGA's flash keeps its start-up and parameter records from 0x6C0000
// (the flash behind FPGA 0 its schedule, brightness and running-time
// records too); a bitstream ends below them.
constexpr uint32_t kBitstreamLimit = 0x6C0000;
constexpr uint32_t bitstream_limit(unsigned char)
{
    return kBitstreamLimit;
}

// The font areas of the chip's serial flash; each ends where the next
// stored object begins (the 64-pixel CJK font before the sector that holds
// the OSD bitmap at 0xED9800).
struct FontArea {
    uint32_t address;
    uint32_t size;
};
bool font_area(unsigned char encoding, unsigned char height, FontArea& out)
{
    const FontArea ascii32{0x000000, 0x010000};
    if (encoding == 0)
        out = height == 32 ? FontArea{0x010000, 0x400000} : height == 64 ? FontArea{0x450000, 0xA89000} : ascii32;
    else if (encoding == 1)
        out = height == 64 ? FontArea{0x410000, 0x040000} : ascii32;
    else
        return false;
    return true;
}

void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void trace(const char* format, ...)
{
    if (!traceOn())
        return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void sleep_ms(unsigned int ms)
{
    ::usleep(ms * 1000u);
}

void sync_pause(unsigned int ms)
{
    Utils::system_mutex("sync");
    fpga_manage::upgrade_sleep_ms(ms);
}

// The size of a package (false when it cannot be examined).
bool package_size(const QString& path, uint64_t& size)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

// What identifies the package file as read: a package replaced, cut short
// or grown while its pieces are read shows another stamp.
struct FileStamp {
    uint64_t size = 0;
    uint64_t inode = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp& o) const { return size == o.size && inode == o.inode && mtimeNs == o.mtimeNs; }
};
bool package_stamp(const QString& path, FileStamp& out)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    out.size = static_cast<uint64_t>(st.st_size);
    out.inode = static_cast<uint64_t>(st.st_ino);
    out.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

// Reads length bytes at offset of a package into dest, the file opened and
// closed again under the file mutex; true only when all were read.
bool read_piece(const QString& path, uint64_t offset, uint32_t length, unsigned char* dest)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    FILE* f = std::fopen(path.toLocal8Bit().constData(), "rb");
    if (!f)
        return false;
    const bool ok = ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 &&
                    std::fread(dest, 1, length, f) == length;
    std::fclose(f);
    return ok;
}

// The size of a package and the header of one of its entries; false (after
// "sync" and a pause) when either cannot be read.
bool read_entry_head(const QString& path, uint32_t offset, uint32_t n, unsigned char* dest, uint64_t& size)
{
    if (package_size(path, size) && read_piece(path, offset, n, dest))
        return true;
    sync_pause(100);
    return false;
}

struct PackageEntry {
    unsigned char type = 0;
    uint32_t len = 0;
    uint32_t offset = 0;
    unsigned char version[6] = {};
};

struct Package {
    unsigned char publish = 0;
    unsigned short controller = 0;
    std::vector<PackageEntry> entries;
};

unsigned char bcd(unsigned char v)
{
    return static_cast<unsigned char>((v >> 4) * 10 + (v & 15));
}

// Erases the flash under length bytes from base: a 32 KiB block where one
// starts at a sector that is a multiple of 8 and the data fills it, else a
// 4 KiB sector. erase(sector, kind, offset) answers false on a failure,
// which ends the erase.
template <typename Erase>
bool erase_under(uint32_t base, uint32_t length, Erase erase)
{
    for (uint32_t o = 0; o < length;) {
        const uint32_t sector = (base + o) / 4096;
        const bool block = sector % 8 == 0 && uint64_t(o) + 32768 <= length;
        if (!erase(sector, block ? 1 : 0, o))
            return false;
        o += block ? 32768 : 4096;
        fpga_manage::upgrade_sleep_ms(1);
    }
    return true;
}

// Reads length bytes from offset of a package, one chunk at a time (each by
// reopening the package under the file mutex, a pause after each), into
// out: false, after "sync" and a pause, when a piece cannot be read or the
// package is not the same file of size bytes from the first read to the
// last (removed, replaced, cut short or grown meanwhile).
bool read_whole(const QString& path, uint64_t offset, uint32_t length, uint64_t size, uint32_t chunk,
                std::vector<unsigned char>& out)
{
    out.assign(length, 0);
    FileStamp before, after;
    bool read = package_stamp(path, before) && before.size == size;
    for (uint32_t at = 0; read && at < length; at += chunk) {
        read = read_piece(path, offset + at, std::min<uint32_t>(chunk, length - at), out.data() + at);
        fpga_manage::upgrade_sleep_ms(1);
    }
    read = read && package_stamp(path, after) && after == before;
    if (!read)
        sync_pause(100);
    return read;
}

} // namespace

bool fpga_start_usb_upgrade()
{
    if (g_usb_grade.load() != 0)
        return false;
    g_send_para.step = 0;
    g_usb_grade = 1;
    return true;
}

void (*fpga_manage::upgrade_sleep_ms)(unsigned int ms) = sleep_ms;

namespace {

// Reads the header and the table of a package and checks every entry it
// would install against the file and its destination. False (why set)
// when the package must be refused as a whole.
bool read_package(const QString& path, Package& pkg, QString& why)
{
    uint64_t size = 0;
    unsigned char header[kHeaderSize];
    if (!package_size(path, size) || !read_piece(path, 0, kHeaderSize, header)) {
        sync_pause(100);
        why = "cannot read the package header";
        return false;
    }
    sync_pause(1);
    pkg.publish = header[2];
    pkg.controller = le16(header, 18);
    const unsigned count = le16(header, 47);
    trace("\n FileType = %#x, FileVersion = %#x, PublishType = %#x, ControllerType = %#x, FileNum = %u\n",
          header[0], header[1], header[2], pkg.controller, count);
    if (kHeaderSize + uint64_t(kEntrySize) * count > size) {
        why = QString("entry table of %1 entries beyond the end of the package").arg(count);
        return false;
    }
    for (unsigned k = 0; k < count; ++k) {
        unsigned char raw[kEntrySize];
        const bool read = read_piece(path, kHeaderSize + uint64_t(kEntrySize) * k, kEntrySize, raw);
        sync_pause(100);
        if (!read) {
            why = QString("cannot read entry %1").arg(k);
            return false;
        }
        PackageEntry e;
        e.type = raw[0];
        e.len = le32(raw, 1);
        e.offset = le32(raw, 5);
        std::memcpy(e.version, raw + 9, sizeof(e.version));
        trace("\n entry %u: type %u len %u offset %u version %u.%u.%u.%u.%u.%u flash %#x sectors %u\n", k, e.type,
              e.len, e.offset, e.version[0], e.version[1], e.version[2], e.version[3], e.version[4], e.version[5],
              le32(raw, 15), le16(raw, 19));
        if (e.type != kApp && e.type != kFpga0 && e.type != kFpga1 && e.type != kFont)
            continue;   // passed over
        if (uint64_t(e.offset) + e.len > size) {
            why = QString("entry %1 lies beyond the end of the package").arg(k);
            return false;
        }
        if (e.type == kApp && (e.len == 0 || e.len > kFileBufSize)) {
            why = QString("application of %1 bytes (1 to %2 allowed)").arg(e.len).arg(kFileBufSize);
            return false;
        }
        if (e.type == kFpga0 || e.type == kFpga1) {
            unsigned char child[kChildHeaderSize];
            if (e.len < kChildHeaderSize || !read_piece(path, e.offset, kChildHeaderSize, child)) {
                why = QString("entry %1: bitstream header missing").arg(k);
                return false;
            }
            const uint32_t bits = le32(child, 31);
            if (bits > e.len - kChildHeaderSize || bits > bitstream_limit(e.type == kFpga0 ? 2 : 3)) {
                why = QString("entry %1: bitstream of %2 bytes does not fit its entry or flash").arg(k).arg(bits);
                return false;
            }
        }
        if (e.type == kFont) {
            unsigned char font[kFontHeaderSize];
            if (e.len < kFontHeaderSize || !read_piece(path, e.offset, kFontHeaderSize, font)) {
                why = QString("entry %1: font header missing").arg(k);
                return false;
            }
            FontArea area{};
            if (font_area(font[5], font[18], area) && e.len > area.size) {
                why = QString("entry %1: font of %2 bytes beyond its flash area").arg(k).arg(e.len);
                return false;
            }
        }
        pkg.entries.push_back(e);
    }
    return true;
}

} // namespace

void fpga_manage::usb_upgrade_manage_deal(void*)
{
    usb_upgrade_deal();
}

void fpga_manage::usb_upgrade_deal()
{
    TimeRealType t;
    switch (g_send_para.step.load()) {
    case 0:
        if (g_update_flag.load() == 0 && g_mainwindow)
            g_mainwindow->update_start();
        IT8563WE_Get(&t);
        upgrade_time_text = QString("%1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
        upgrade_errors = 0;
        upgrade_error_text.clear();
        for (int f = 0; f < 2; ++f)
            upgrade_flash[f] = flash_write_marked(f) ? kFlashBlank : kFlashNotTried;
        usb_skipped.clear();
        g_update_flag = 1;
        usb_file_count = 0;
        g_send_para.step = 1;
        break;
    case 1:
        get_usb_file_list_path();
        trace("\n usb_updata_list = %u \n", usb_file_count);
        g_send_para.step = 2;
        break;
    case 2:
        usb_upgrade_main_deal();
        g_send_para.step = 3;
        break;
    case 3:
        IT8563WE_Get(&t);
        upgrade_time_text += QString("    %1:%2:%3").arg(t.hour).arg(t.minute).arg(t.second);
        if (g_update_flag.load() != 0 && g_mainwindow)
            g_mainwindow->update_over();
        if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config)
            store->test_signal(104);
        g_update_flag = 0;
        g_send_para.step = 0;
        g_usb_grade = 0;
        break;
    default:
        break;
    }
}

QStringList fpga_manage::usb_upgrade_packages(QStringList* skipped)
{
    QStringList packages;
    const QString sub = Utils::settings_copy(g_usb_grade_path);
    // The folder setting names a folder on the disk, never a way out of it.
    if (sub.split('/').contains("..")) {
        writeLogMsg(ERROR, "USB upgrade: upgrade folder setting leaves the disk: " + sub.toStdString());
        return packages;
    }
    const QString folder = sub == " " ? QString("/mnt/usb1/") : QString("/mnt/usb1/") + sub;
    const QDir dir(platform::boardPath(folder));
    const QFileInfoList found = dir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    for (const QFileInfo& fi : found) {
        const QString suffix = fi.suffix();
        if (!fi.isFile() || fi.isSymLink() || (suffix != "ZDR" && suffix != "ZDRZK"))
            continue;
        if (static_cast<unsigned int>(packages.size()) < kUsbMaxPackages)
            packages << fi.absoluteFilePath();
        else if (skipped)
            *skipped << fi.fileName();
    }
    return packages;
}

void fpga_manage::get_usb_file_list_path()
{
    usb_skipped.clear();
    usb_file_list = usb_upgrade_packages(&usb_skipped);
    usb_file_count = static_cast<unsigned int>(usb_file_list.size());
    // Every package on the disk was put there to be installed: those left
    // out are named, and the upgrade does not end as done.
    for (const QString& name : usb_skipped)
        writeLogMsg(ERROR, QString("USB upgrade: more than %1 packages on the disk, not installed: %2")
                               .arg(kUsbMaxPackages)
                               .arg(name)
                               .toStdString());
    upgrade_errors += static_cast<unsigned int>(usb_skipped.size());
}

void fpga_manage::usb_upgrade_main_deal()
{
    if (usb_file_count == 0)
        return;
    downing_mcu = downing_txc1 = downing_txc2 = downing_osd = 0;
    auto failed = [this](const QString& what) {
        ++upgrade_errors;
        upgrade_error_text = what;
        writeLogMsg(ERROR, "USB upgrade: " + what.toStdString());
    };
    for (unsigned i = 0; i < usb_file_count && i < unsigned(usb_file_list.size()); ++i) {
        const QString path = usb_file_list[static_cast<int>(i)];
        QByteArray local = path.toLocal8Bit();
        trace("ready to downing file name %s\nsuffix : %s\n", local.constData(),
              QFileInfo(path).suffix().toLocal8Bit().constData());
        Package pkg;
        QString why;
        if (!read_package(path, pkg, why)) {
            failed(QFileInfo(path).fileName() + " refused: " + why);
            continue;
        }
        const unsigned char* regs[2] = {MCU_REG_func[0], MCU_REG_func[1]};
        // A package for another device installs none of its application
        // and bitstream entries, and the upgrade does not end as done.
        if (pkg.controller != kControllerType &&
            std::any_of(pkg.entries.begin(), pkg.entries.end(),
                        [](const PackageEntry& e) { return e.type == kApp || e.type == kFpga0 || e.type == kFpga1; }))
            failed(QFileInfo(path).fileName() +
                   QString(" is for another device (controller type %1): its application and bitstreams passed over")
                       .arg(pkg.controller, 4, 16, QChar('0')));
        for (const PackageEntry& e : pkg.entries) {
            const bool skippable = pkg.publish == kPublishSkip;
            if (e.type == kApp) {
                if (pkg.controller != kControllerType)
                    continue;
                if (skippable && std::memcmp(e.version, kAppVersion, sizeof(kAppVersion)) == 0) {
                    downing_mcu = 0;
                    continue;
                }
                downing_mcu = static_cast<unsigned char>(update_muc_file(local.data(), e.offset, e.len));
                if (!downing_mcu)
                    failed("application not installed: " + upgrade_error_text);
            } else if (e.type == kFpga0 || e.type == kFpga1) {
                if (pkg.controller != kControllerType)
                    continue;
                const int fpga = e.type == kFpga0 ? 0 : 1;
                unsigned char& flag = fpga == 0 ? downing_txc1 : downing_txc2;
                bool same;
                {
                    FpgaMutexHold hold(fpga_reg_mutex);
                    const unsigned char* r = regs[fpga];
                    same = e.version[0] == bcd(r[31]) && e.version[1] == bcd(r[30]) &&
                           e.version[2] == bcd(r[29]) && e.version[5] == r[28];
                }
                // An entry passed over leaves a bitstream written earlier in
                // the run to be applied; a failed write leaves the FPGA
                // running the one it has. The FPGA is reset only onto a
                // flash that holds a whole verified bitstream.
                if (skippable && same)
                    continue;
                const int written = update_txc_file(local.data(), fpga == 0 ? 2 : 3, e.offset);
                if (written == kEntryPassedOver)
                    continue;
                flag = upgrade_flash[fpga].load() == kFlashNewWritten ? 1 : 0;
                if (!written)
                    failed(QString("bitstream of FPGA %1 not written: ").arg(fpga) + upgrade_error_text +
                           (upgrade_flash[fpga].load() == kFlashBlank
                                ? QString("; FPGA %1 flash left without a whole bitstream").arg(fpga)
                                : QString("; FPGA %1 flash unchanged").arg(fpga)));
            } else if (e.type == kFont) {
                unsigned char fonts = 0;
                if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config)
                    store->status_bytes(kStatusFonts, &fonts, 1);
                fonts &= 63;
                if (fonts >= 63)
                    continue;
                const int written = update_c331_osd_font_file(local.data(), e.offset, e.len);
                if (written == kEntryPassedOver)
                    continue;
                downing_osd = written ? 1 : 0;
                if (!downing_osd)
                    failed("font not written: " + upgrade_error_text);
            }
        }
    }
    trace("\n downing_mcu = %#x ,downing_txc1 = %#x ,downing_osd = %#x\n", downing_mcu, downing_txc1, downing_osd);

    if (downing_mcu == 0) {
        if (downing_txc1)
            reset_fpga_rst(0);
        if (downing_txc2)
            reset_fpga_rst(1);
        c331_manage* chip = c331_manage::p_c331_manage;
        if (downing_osd && chip) {
            chip->read_c331_font(chip->c331_fd);
            chip->update_font(chip->c331_fd);
        }
        return;
    }
    if (g_app_reset_flag.load() != 0)
        return;
    Utils::system_mutex("chmod 777 -R /data/app");
    upgrade_sleep_ms(10);
    // The verified image replaces the running one in one rename: the
    // launcher finds the old build or the new one, never a part of either.
    const std::string staged = platform::boardPath("/data/app/zdrK47N2");
    const std::string target = platform::boardPath("/data/app/zdrK47N");
    // The launch line first: it names the program's fixed path, which the
    // old build holds until the rename; a power cut anywhere then starts
    // the old build or the new one, never none.
    if (g_update_status == 0) {
        QSettings launch(platform::boardPath(QString("/data/configs/led_load_config.ini")), QSettings::IniFormat);
        launch.beginGroup("app-1");
        launch.setValue("app_path", "/data/app/zdrK47N -platform linuxfb");
        launch.setValue("app_name", "zdrK47N");
        launch.endGroup();
        launch.sync();
        if (launch.status() != QSettings::NoError)
            failed("launch line not written");
    }
    ::chmod(staged.c_str(), 0777);
    if (std::rename(staged.c_str(), target.c_str()) != 0) {
        downing_mcu = 0;
        failed("application not moved into place");
        return;
    }
    upgrade_sleep_ms(10);
    Utils::system_mutex("sync");
    upgrade_sleep_ms(20);
    Utils::system_mutex("sync");
    upgrade_sleep_ms(1000);
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
}

int fpga_manage::update_muc_file(char* path, unsigned int offset, unsigned int length)
{
    const QString package = QString::fromLocal8Bit(path);
    uint64_t size = 0;
    if (length == 0 || length > kFileBufSize || !package_size(package, size) || uint64_t(offset) + length > size) {
        upgrade_error_text = QString("application of %1 bytes at %2 does not fit").arg(length).arg(offset);
        return 0;
    }
    std::vector<unsigned char> image(length);
    if (!read_piece(package, offset, length, image.data())) {
        sync_pause(100);
        upgrade_error_text = "application image unreadable";
        return 0;
    }
    const std::string staged = platform::boardPath("/data/app/zdrK47N2");
    bool ok;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FILE* f = std::fopen(staged.c_str(), "wb+");
        if (!f) {
            trace("\n\n  error!!!! file_velmo N= NULL \n ");
            f = std::fopen(staged.c_str(), "wb");
        }
        ok = f && std::fwrite(image.data(), 1, length, f) == length && std::fflush(f) == 0 && ::fsync(fileno(f)) == 0;
        if (f)
            ok = std::fclose(f) == 0 && ok;
    }
    Utils::system_mutex("sync");
    upgrade_sleep_ms(10);
    if (ok) {
        // Read-back check: the image must be on the medium byte for byte.
        QMutexLocker lock(&Utils::_file_deal_mutex);
        FILE* f = std::fopen(staged.c_str(), "rb");
        ok = f != nullptr;
        unsigned char block[1024];
        for (uint32_t done = 0; ok && done < length;) {
            const uint32_t n = std::min<uint32_t>(sizeof(block), length - done);
            if (std::fread(block, 1, n, f) != n || std::memcmp(block, image.data() + done, n) != 0) {
                trace(n == sizeof(block) ? "\n read app found comare 01!!!!!! " : "\n read app found comare 02!!!!!! ");
                ok = false;
            }
            done += n;
        }
        if (ok && std::fgetc(f) != EOF)
            ok = false;
        if (f)
            std::fclose(f);
    }
    if (!ok) {
        std::remove(staged.c_str());
        upgrade_error_text = "application image not stored intact";
        return 0;
    }
    return 1;
}

int fpga_manage::update_txc_file(char* path, unsigned char chip, unsigned int offset)
{
    const int fpga = chip == 2 ? 0 : 1;
    // A failure before the first erase leaves the flash as it was.
    auto unchanged = [this, fpga] {
        unsigned char expected = kFlashNotTried;
        upgrade_flash[fpga].compare_exchange_strong(expected, kFlashOldKept);
        return 0;
    };
    const QString package = QString::fromLocal8Bit(path);
    unsigned char child[kChildHeaderSize];
    uint64_t size = 0;
    if (!read_entry_head(package, offset, kChildHeaderSize, child, size)) {
        upgrade_error_text = "bitstream header unreadable";
        return unchanged();
    }
    trace("\n file_type = %#x (1-FCG,2-ACG)\n", child[16]);
    trace("\n ControllerClcass = %#x (00-sending,1-rcv,2-mult)\n", child[20]);
    const uint32_t bits = le32(child, 31);
    const uint64_t data = uint64_t(offset) + kChildHeaderSize;
    if (bits > bitstream_limit(chip) || data + bits > size) {
        upgrade_error_text = QString("bitstream of %1 bytes does not fit").arg(bits);
        return unchanged();
    }
    if (bits == 0)
        return kEntryPassedOver;
    if (!drv) {
        upgrade_error_text = "no FPGA flash";
        return unchanged();
    }
    // The whole bitstream is read before the first erase (as the
    // application is staged before it replaces the old one): a disk pulled
    // or a package cut short while it is read leaves the old bitstream.
    // Each chunk is read by reopening the package under the file mutex.
    std::vector<unsigned char> stream;
    if (!read_whole(package, data, bits, size, kTxcChunk, stream)) {
        upgrade_error_text = "bitstream unreadable (package removed, changed or cut short)";
        return unchanged();
    }
    // A flash that does not answer ready is not erased.
    if (!drv->FPGA_SPI_FLASH_VBYONE_ERASE(chip, 0, 0, 0)) {
        upgrade_error_text = QString("flash %1 not ready").arg(chip);
        return unchanged();
    }
    // The mark is on the disk before the first erase: a power cut from
    // here until the whole bitstream is verified is found at the next start.
    const std::string mark = platform::boardPath(flash_write_mark(fpga));
    const std::string note = QString("FPGA %1 flash write started\n").arg(fpga).toStdString();
    if (!writeFileAtomically(mark, reinterpret_cast<const unsigned char*>(note.data()), note.size())) {
        upgrade_error_text = QString("flash %1 not erased: its write cannot be marked").arg(chip);
        return unchanged();
    }
    upgrade_flash[fpga] = kFlashBlank;
    const bool erased = erase_under(0, bits, [&](uint32_t sector, unsigned char kind, uint32_t a) {
        trace("\n erase sec= %u , addr = %u\n ", sector, a);
        if (drv->FPGA_SPI_FLASH_VBYONE_ERASE(chip, sector, kind, 1))
            return true;
        upgrade_error_text = QString("flash %1 erase failed at %2").arg(chip).arg(a);
        return false;
    });
    if (!erased)
        return 0;
    std::vector<unsigned char> buffer(kFlashRoom + kTxcChunk);
    for (uint32_t at = 0; at < bits; at += kTxcChunk) {
        const uint32_t n = std::min<uint32_t>(kTxcChunk, bits - at);
        std::memcpy(buffer.data() + kFlashRoom, stream.data() + at, n);
        upgrade_sleep_ms(1);
        if (!drv->FPGA_SPI_FLASH_VBYONE_WRITE(chip, at, buffer.data(), n) ||
            !drv->FPGA_SPI_FLASH_VBYONE_READ(chip, at, n, buffer.data()) ||
            std::memcmp(buffer.data(), stream.data() + at, n) != 0) {
            upgrade_error_text = QString("flash %1 write failed at %2").arg(chip).arg(at);
            return 0;
        }
    }
    upgrade_flash[fpga] = kFlashNewWritten;
    if (!removeFileDurably(mark))
        writeLogMsg(ERROR, "USB upgrade: the write mark of FPGA " + std::to_string(fpga) + " flash not removed");
    trace("\n write over !!!!!\n ");
    return 1;
}

std::string fpga_manage::flash_write_mark(int fpga)
{
    return fpga == 0 ? "/data/configs/fpga0_flash_writing" : "/data/configs/fpga1_flash_writing";
}

bool fpga_manage::flash_write_marked(int fpga)
{
    struct stat st {};
    return ::lstat(platform::boardPath(flash_write_mark(fpga)).c_str(), &st) == 0;
}

void fpga_manage::note_flash_writes_cut()
{
    for (int f = 0; f < 2; ++f) {
        if (!flash_write_marked(f))
            continue;
        upgrade_flash[f] = kFlashBlank;
        writeLogMsg(ERROR, "FPGA " + std::to_string(f) +
                               ": flash blank, upgrade again (the write of its bitstream did not end)");
    }
}

int fpga_manage::update_c331_osd_font_file(char* path, unsigned int offset, unsigned int length)
{
    const QString package = QString::fromLocal8Bit(path);
    unsigned char header[kFontHeaderSize];
    uint64_t size = 0;
    if (!read_entry_head(package, offset, kFontHeaderSize, header, size)) {
        upgrade_error_text = "font header unreadable";
        return 0;
    }
    FontArea area{};
    const bool known = font_area(header[5], header[18], area);
    trace("\n osd flash_addr = %#x ,en_coding = %#x file_len = %#x\n", area.address, header[5], length);
    if (!known || length == 0)
        return kEntryPassedOver;
    if (length > area.size || uint64_t(offset) + length > size) {
        upgrade_error_text = QString("font of %1 bytes does not fit").arg(length);
        return 0;
    }
    c331_manage* c = c331_manage::p_c331_manage;
    if (!c) {
        upgrade_error_text = "no chip flash";
        return 0;
    }
    // The whole font is read before its area is erased, as a bitstream is.
    std::vector<unsigned char> font;
    if (!read_whole(package, offset, length, size, kFontChunk, font)) {
        upgrade_error_text = "font unreadable (package removed, changed or cut short)";
        return 0;
    }
    const int fd = c->c331_fd;
    const bool erased = erase_under(area.address, length, [&](uint32_t sector, unsigned char kind, uint32_t o) {
        trace("\n erase = %u , addr = %u ,flash_addr = %#x \n ", sector, o, area.address);
        if (c->erase_flash(fd, static_cast<int>(sector), 1, static_cast<char>(kind)) == 0)
            return true;
        upgrade_error_text = QString("chip flash erase failed at %1: font area left without a whole font")
                                 .arg(area.address + o);
        return false;
    });
    if (!erased)
        return 0;
    std::vector<char> buffer(kFontChunk);
    std::vector<char> check(kFontChunk);
    for (uint32_t at = 0; at < length; at += kFontChunk) {
        const uint32_t n = std::min<uint32_t>(kFontChunk, length - at);
        std::memcpy(buffer.data(), font.data() + at, n);
        upgrade_sleep_ms(1);
        const int address = static_cast<int>(area.address + at);
        if (c->write_flash(fd, address, static_cast<int>(n), buffer.data()) != 0 ||
            c->read_flash(fd, address, static_cast<int>(n), check.data()) != 0 ||
            std::memcmp(buffer.data(), check.data(), n) != 0) {
            upgrade_error_text =
                QString("chip flash write failed at %1: font area left without a whole font").arg(address);
            return 0;
        }
    }
    return 1;
}
