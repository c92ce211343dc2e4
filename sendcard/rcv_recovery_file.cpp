#include "sendcard/rcv_recovery_file.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board_root.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <cstdio>

namespace {

const char* operateName(unsigned char type)
{
    switch (type) {
    case 1: return "write";
    case 2: return "ram2flash";
    case 3: return "active_firmware";
    case 4: return "upgrade rcv";
    case 5: return "reconfig";
    case 6: return "sleep";
    case 7: return "search rxc";
    case 16: return "user redefined";
    default: return "operate_error";
    }
}

const char* targetName(unsigned char target)
{
    switch (target) {
    case 1: return "ram";
    case 2: return "register";
    case 3: return "flash";
    default: return "target_error";
    }
}

} // namespace

int rcvRecovery::read_at(const QString& path, uint64_t pos, unsigned char* out, uint64_t n) const
{
    const QString real = platform::boardPath(path);
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (!QFile::exists(real))
        return kNoFile;
    QFile f(real);
    if (!f.open(QIODevice::ReadOnly))
        return kNoFile;
    const uint64_t size = static_cast<uint64_t>(f.size());
    if (pos > size || n > size - pos)
        return kOutOfRange;
    if (n == 0)
        return kOk;
    if (!f.seek(static_cast<qint64>(pos)))
        return kNoFile;
    const qint64 got = f.read(reinterpret_cast<char*>(out), static_cast<qint64>(n));
    return got == static_cast<qint64>(n) ? kOk : kNoFile;
}

int rcvRecovery::read_u16(const QString& path, uint64_t pos, uint16_t& v) const
{
    unsigned char b[2];
    const int r = read_at(path, pos, b, 2);
    if (r == kOk)
        v = le16(b, 0);
    return r;
}

int rcvRecovery::read_operate(const QString& path, uint64_t pos)
{
    unsigned char b[kOperateSize];
    const int r = read_at(path, pos, b, kOperateSize);
    if (r != kOk)
        return r;
    operate.offset = le32(b, 0);
    operate.dataLen = le32(b, 4);
    operate.targetAddr = le32(b, 8);
    operate.timeticks = le32(b, 12);
    operate.type = b[16];
    operate.target = b[17];
    if (traceOn())
        std::printf("\n operate : %s , target : %s , offset = %#x , dataLen = %#x , targetAddr = %#x , timeticks = %u \n",
                    operateName(operate.type), targetName(operate.target), operate.offset, operate.dataLen,
                    operate.targetAddr, operate.timeticks);
    return kOk;
}

uint32_t rcvRecovery::section_base(unsigned char type) const
{
    uint32_t base = 0;
    for (unsigned i = 0; i < held_sections(); ++i)
        if (section[i].file_type == type)
            base = section[i].offset;
    return base;
}

bool rcvRecovery::has_section(unsigned char type) const
{
    for (unsigned i = 0; i < held_sections(); ++i)
        if (section[i].file_type == type)
            return true;
    return false;
}

int rcvRecovery::get_rcvPackedFileNum(const QString& path)
{
    unsigned char b[4];
    const int r = read_at(path, 0, b, 4);
    if (r != kOk)
        return r;
    for (int i = 0; i < 4; ++i)
        pack_head[i] = b[i];
    if (section_count() > kMaxSections)
        writeLogMsg(WARNING, "packed card file announces " + std::to_string(section_count()) +
                                 " sections: only the first 6 are used");
    if (traceOn())
        std::printf("\n packed file num = %d \n", section_count());
    return kOk;
}

int rcvRecovery::get_rcvPackedFileInfo(const QString& path, unsigned char i)
{
    if (i >= kMaxSections)
        return kOutOfRange;
    unsigned char b[kSectionEntrySize];
    const int r = read_at(path, 4 + uint64_t(kSectionEntrySize) * i, b, kSectionEntrySize);
    if (r != kOk)
        return r;
    section[i].file_type = b[0];
    section[i].length = le32(b, 4);
    section[i].offset = le32(b, 8);
    if (traceOn())
        std::printf("\n file%d type = %d , length = %#x , offset = %#x \n", i, b[0], section[i].length,
                    section[i].offset);
    return kOk;
}

int rcvRecovery::update_rcvScreenHead(const QString& path)
{
    unsigned char b[kScreenHeadSize];
    const int r = read_at(path, section_base(kScreenFile), b, kScreenHeadSize);
    if (r != kOk) {
        if (r == kNoFile && traceOn())
            std::printf("file error %s\n", path.toLocal8Bit().constData());
        return r;
    }
    screen_head.type = b[2];
    screen_head.rcv_para_len = le32(b, 4);
    screen_head.rcv_para_crc32 = le32(b, 8);
    screen_head.rcv_xy_len = le32(b, 12);
    screen_head.rcv_xy_crc32 = le32(b, 16);
    screen_head.screen_num = b[20];
    if (traceOn())
        std::printf("\n screen_num (screen_num = %#x) \n rcv_para_crc32 = %#x , rcv_xy_crc32 = %#x \n",
                    screen_head.screen_num, screen_head.rcv_para_crc32, screen_head.rcv_xy_crc32);
    return kOk;
}

int rcvRecovery::update_rcvScreenIDinfo(const QString& path, unsigned char s)
{
    if (s >= screen_head.screen_num)
        return kOutOfRange;
    unsigned char b[kScreenInfoSize];
    const int r = read_at(path, uint64_t(section_base(kScreenFile)) + kScreenHeadSize + uint64_t(kScreenInfoSize) * s,
                          b, kScreenInfoSize);
    if (r != kOk)
        return r;
    screen_info.config_id = le32(b, 0);
    screen_info.net_use = le32(b, 4);
    screen_info.rcv_para_offset = le32(b, 36);
    screen_info.rcv_para_len = le32(b, 40);
    screen_info.rcv_xy_offset = le32(b, 44);
    screen_info.rcv_xy_len = le32(b, 48);
    if (traceOn())
        std::printf("\nscreen%d --rcv_xy_offset = %#x \n", s, screen_info.rcv_xy_offset);
    return kOk;
}

int rcvRecovery::update_rcvXYscreenNetnum(const QString& path)
{
    return read_u16(path, uint64_t(section_base(kRcvXyFile)) + screen_info.rcv_xy_offset, screen_net_num);
}

int rcvRecovery::update_rcvXYscreenNetpara(const QString& path, unsigned short n)
{
    if (n >= screen_net_num)
        return kOutOfRange;
    unsigned char b[kNetParaSize];
    const int r = read_at(path, uint64_t(section_base(kRcvXyFile)) + screen_info.rcv_xy_offset + 4 +
                                    uint64_t(kNetParaSize) * n,
                          b, kNetParaSize);
    if (r != kOk)
        return r;
    net_para.net_ledx = le16(b, 0);
    net_para.net_rcv_num = le16(b, 2);
    net_para.net_para_offset = le32(b, 4);
    net_para.net_para_len = le32(b, 8);
    if (traceOn())
        std::printf("\n net_index%d --net_rcv_num = %#x \n", n, net_para.net_rcv_num);
    return kOk;
}

int rcvRecovery::update_rcvXYrcvOperateTimes(const QString& path, unsigned short c, bool bare)
{
    // Only the cards the net announces have blocks.
    if (c >= net_para.net_rcv_num)
        return kOutOfRange;
    const uint64_t netStart =
        uint64_t(bare ? 0 : section_base(kRcvXyFile)) + screen_info.rcv_xy_offset + net_para.net_para_offset;
    uint64_t offset = 0;
    for (unsigned j = 0; j < c; ++j) {
        uint16_t times = 0;
        const int r = read_u16(path, netStart + offset, times);
        if (r != kOk)
            return r;
        offset += 4 + uint64_t(kOperateSize) * times;
        if (offset > 0xFFFFFFFFull)
            return kOutOfRange;
    }
    uint16_t times = 0;
    const int r = read_u16(path, netStart + offset, times);
    if (r != kOk)
        return r;
    card_block_offset = static_cast<uint32_t>(offset);
    rcv_operate_times = times;
    if (traceOn())
        std::printf("\t rcv_operate_times = %#x \n", rcv_operate_times);
    return kOk;
}

int rcvRecovery::update_rcvXYrcvOperatepara(const QString& path, unsigned short k, bool bare)
{
    if (k >= rcv_operate_times)
        return kOutOfRange;
    return read_operate(path, uint64_t(bare ? 0 : section_base(kRcvXyFile)) + screen_info.rcv_xy_offset +
                                  net_para.net_para_offset + 4 + card_block_offset + uint64_t(kOperateSize) * k);
}

int rcvRecovery::update_smartDebugingOperateTimes(const QString& path, bool bare)
{
    const uint64_t pos = bare ? kBareHeadSize : uint64_t(section_base(kSmartDebugFile)) + screen_info.rcv_para_offset;
    const int r = read_u16(path, pos, rcv_operate_times);
    if (r == kNoFile && traceOn())
        std::printf("\n can not open the file ");
    if (r == kOk && traceOn())
        std::printf("\t rcv_operate_times = %#x \n", rcv_operate_times);
    return r;
}

int rcvRecovery::update_smartDebugingOperatepara(const QString& path, unsigned short k, bool bare)
{
    if (k >= rcv_operate_times)
        return kOutOfRange;
    const uint64_t first =
        bare ? kBareHeadSize + 4 : uint64_t(section_base(kSmartDebugFile)) + screen_info.rcv_para_offset + 4;
    return read_operate(path, first + uint64_t(kOperateSize) * k);
}

int rcvRecovery::update_rcvOperatedata(const QString& path, unsigned int pos, unsigned char* buf, unsigned short len)
{
    return read_at(path, pos, buf, len);
}

int rcvRecovery::update_rcvXYHead(const QString& path)
{
    return read_at(path, section_base(kRcvXyFile), xy_head, sizeof(xy_head));
}

int rcvRecovery::update_smartDebugingHead(const QString& path)
{
    return read_at(path, 0, smart_debug_head, sizeof(smart_debug_head));
}

int rcvRecovery::update_rcvDealData(const QString& path, unsigned char* buf, unsigned int capacity, unsigned int* len)
{
    if (operate.dataLen > capacity)
        return kOutOfRange;
    const int r = read_at(path, operate.offset, buf, operate.dataLen);
    if (r == kOk && len)
        *len = operate.dataLen;
    return r;
}

int rcvRecovery::check_file_dir(const QString& dir)
{
    const QString path = platform::boardPath(dir);
    if (QDir(path).exists())
        return 0;
    return QDir().mkpath(path) ? 1 : 0;
}

int rcvRecovery::get_dir_file(const QString& dir)
{
    const QDir d(platform::boardPath(dir));
    if (!d.exists())
        return 1;
    QStringList* list = nullptr;
    if (dir == "/data/rcvrecovery")
        list = &recovery_file_list_;
    else if (dir == "/data/smartmapping" || dir == "/mnt/usb1/")
        list = &smart_file_list_;
    if (!list)
        return 0;
    const QStringList files = d.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    QMutexLocker lock(&list_mutex_);
    *list = files;
    return 0;
}

QStringList rcvRecovery::recovery_files() const
{
    QMutexLocker lock(&list_mutex_);
    return recovery_file_list_;
}

QStringList rcvRecovery::smart_files() const
{
    QMutexLocker lock(&list_mutex_);
    return smart_file_list_;
}

void rcvRecovery::init_para()
{
    screen_info.rcv_para_offset = 0;
    screen_info.rcv_para_len = 0;
    screen_info.rcv_xy_offset = 0;
    screen_info.rcv_xy_len = 0;
}
