// Reader of the packed receiving-card parameter files (/data/rcvrecovery)
// and the bare scan files (/data/smartmapping, /mnt/usb1/), owned by the
// FPGA manager.
//
// The object holds, piece by piece, the parts of the file the card jobs
// work on (pack header, section table, screen head, the current screen,
// net, card and operate record), so a job can spread its reading over many
// passes of the FPGA thread. Every read reopens the file under
// Utils::_file_deal_mutex, reads one piece at a computed position and
// closes it again.
//
// The files come from the PC or a USB disk and are not trusted: every read
// must lie wholly inside the file, otherwise it fails and the member keeps
// its previous value. All fields are little-endian.
#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <cstdint>

class rcvRecovery {
public:
    static constexpr unsigned kMaxSections = 6;
    static constexpr unsigned kSectionEntrySize = 12;
    static constexpr unsigned kScreenHeadSize = 32;
    static constexpr unsigned kScreenInfoSize = 52;
    static constexpr unsigned kNetParaSize = 12;
    static constexpr unsigned kOperateSize = 18;
    static constexpr unsigned kBareHeadSize = 16;
    // Section types of the section table.
    static constexpr unsigned char kScreenFile = 10;
    static constexpr unsigned char kRcvXyFile = 11;
    static constexpr unsigned char kSmartDebugFile = 12;

    // Reader results: 0 read, 1 file missing or not readable, 2 the piece
    // lies (partly) outside the file or the index is out of range (a read
    // that can never succeed).
    static constexpr int kOk = 0;
    static constexpr int kNoFile = 1;
    static constexpr int kOutOfRange = 2;

    struct SectionEntry {
        unsigned char file_type = 0;
        uint32_t length = 0;
        uint32_t offset = 0;
    };
    struct ScreenHead {
        unsigned char type = 0;
        uint32_t rcv_para_len = 0;
        uint32_t rcv_para_crc32 = 0;
        uint32_t rcv_xy_len = 0;
        uint32_t rcv_xy_crc32 = 0;
        unsigned char screen_num = 0;
    };
    struct ScreenIdInfo {
        uint32_t config_id = 0;
        uint32_t net_use = 0;
        uint32_t rcv_para_offset = 0;
        uint32_t rcv_para_len = 0;
        uint32_t rcv_xy_offset = 0;
        uint32_t rcv_xy_len = 0;
    };
    struct NetPara {
        uint16_t net_ledx = 0;
        uint16_t net_rcv_num = 0;
        uint32_t net_para_offset = 0;
        uint32_t net_para_len = 0;
    };
    struct OperatePara {
        uint32_t offset = 0;
        uint32_t dataLen = 0;
        uint32_t targetAddr = 0;
        uint32_t timeticks = 0;
        unsigned char type = 0;
        unsigned char target = 0;
    };

    // --- what the reader holds ------------------------------------------
    unsigned char pack_head[4] = {0, 0, 0, 0};
    SectionEntry section[kMaxSections];
    QString file_path;
    uint32_t operate_data_offset = 0;
    ScreenHead screen_head;
    ScreenIdInfo screen_info;
    NetPara net_para;
    OperatePara operate;
    unsigned char smart_debug_head[16] = {};
    unsigned char xy_head[16] = {};
    uint16_t screen_net_num = 0;
    uint32_t card_block_offset = 0;
    uint16_t rcv_operate_times = 0;

    // Sections announced by the held pack header (byte 3); the table holds
    // at most kMaxSections of them.
    unsigned section_count() const { return pack_head[3]; }
    unsigned held_sections() const { return section_count() < kMaxSections ? section_count() : kMaxSections; }
    // Base of a section: the offset of the last held table entry of that
    // type, 0 when none carries it.
    uint32_t section_base(unsigned char type) const;
    // Whether a held table entry carries the type.
    bool has_section(unsigned char type) const;

    // --- readers (0 success, non-zero failure, see above) ---------------
    // Net, card and record indexes are 16-bit, as the counts they run
    // below (a screen may have more than 255 nets, a card more than 255
    // records).
    int get_rcvPackedFileNum(const QString& path);
    int get_rcvPackedFileInfo(const QString& path, unsigned char i);
    int update_rcvScreenHead(const QString& path);
    int update_rcvScreenIDinfo(const QString& path, unsigned char s);
    int update_rcvXYscreenNetnum(const QString& path);
    int update_rcvXYscreenNetpara(const QString& path, unsigned short n);
    int update_rcvXYrcvOperateTimes(const QString& path, unsigned short c, bool bare);
    int update_rcvXYrcvOperatepara(const QString& path, unsigned short k, bool bare);
    int update_smartDebugingOperateTimes(const QString& path, bool bare);
    int update_smartDebugingOperatepara(const QString& path, unsigned short k, bool bare);
    int update_rcvOperatedata(const QString& path, unsigned int pos, unsigned char* buf, unsigned short len);
    int update_rcvXYHead(const QString& path);
    int update_smartDebugingHead(const QString& path);
    // dataLen bytes of the current record (its offset taken as absolute)
    // into buf, which holds capacity bytes; *len = dataLen.
    int update_rcvDealData(const QString& path, unsigned char* buf, unsigned int capacity, unsigned int* len);

    // --- folders ----------------------------------------------------------
    // 0 when the folder exists; otherwise creates it: 1 created, 0 failed.
    int check_file_dir(const QString& dir);
    // 1 when the folder does not exist; else lists its files into the list
    // of that folder ("/data/rcvrecovery", "/data/smartmapping" or
    // "/mnt/usb1/", compared exactly) and returns 0.
    int get_dir_file(const QString& dir);
    // Copies of the lists (the GUI thread refreshes them too).
    QStringList recovery_files() const;
    QStringList smart_files() const;
    // Clears the held screen's offsets and lengths so that a bare file is
    // read from its own start.
    void init_para();

private:
    // The folder lists, replaced from the GUI thread (page refresh) as well
    // as from the FPGA thread; guarded by list_mutex_ (a leaf lock).
    mutable QMutex list_mutex_;
    QStringList recovery_file_list_;   // files of /data/rcvrecovery
    QStringList smart_file_list_;      // files of /data/smartmapping or /mnt/usb1/

    // Reads n bytes at pos of the file into out (board path mapping done
    // here); kOk, kNoFile or kOutOfRange.
    int read_at(const QString& path, uint64_t pos, unsigned char* out, uint64_t n) const;
    int read_u16(const QString& path, uint64_t pos, uint16_t& v) const;
    int read_operate(const QString& path, uint64_t pos);
};
