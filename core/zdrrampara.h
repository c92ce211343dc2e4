// The parameter store: the 4096-byte parameter block shared by every
// subsystem, its shadow copy (what was last persisted), the 16 user-mode
// slots and the runtime status area, with the signal that asks the GUI
// thread to refresh the page on screen and persist the block.
//
// Fields are little-endian; see core/para_layout.h for the offsets.
#pragma once

#include "core/published.h"
#include <QObject>
#include <cstdint>
#include <mutex>

// A crop as it travels between the pages and the store.
struct CROP_PARA {
    int head;
    int x;
    int y;
    int w;
    int h;
};

// Crop numbers in use: 5 bytes (40 bits) per input, bit n - 1 for crop n.
extern unsigned char g_cut_source_state[30];

// The short lock of the store's bytes: the block, its shadow copy and the
// user-mode slots. Every writer takes it while it stores (inside the c331
// manage mutex, which it holds from its check to its flag; the input signal
// records, written by the input-source thread alone, under this lock
// only). A reader takes it alone and never waits for the manage mutex,
// which the chip thread holds across its whole change pass, SPI work
// included: a page or a PC read is answered while a pass runs.
// Held only while bytes are copied or stored: never across a widget call,
// SPI work, a file, a signal or another lock. Taken again in a thread that
// holds it, it only counts.
class ParaBytesLock {
public:
    ParaBytesLock();
    ~ParaBytesLock();
    ParaBytesLock(const ParaBytesLock&) = delete;
    ParaBytesLock& operator=(const ParaBytesLock&) = delete;
    static bool held() { return depth > 0; }

private:
    static std::mutex mutex;
    static thread_local int depth;
};

class ZdrRamPara : public QObject {
    Q_OBJECT
public:
    static constexpr int kSlotCount = 16;
    static constexpr int kSlotSize = 4098;
    static constexpr int kSlotFileSize = 4096;
    static constexpr int kStatusSize = 1064;

    static ZdrRamPara* pInstance();
    static Published<ZdrRamPara> p_zdrrampara_config;

    // Written under ParaBytesLock (see above); the input signal records
    // (block 256 to 291) are the input-source thread's, the rest is stored
    // under the c331 manage mutex as well.
    unsigned char ram_para[4096];
    // What the parameter file holds: written by the GUI thread (under
    // ParaBytesLock only when it records a stored file), read by the other
    // threads under ParaBytesLock.
    unsigned char ram_para_shadow[4096];
    // Slot s holds user mode s + 1: marker (0xAA 0xAA saved, 0xFF 0xFF
    // empty), an image of block 896 to 4095, then bytes kept as they came.
    unsigned char mode_user_para[kSlotCount][kSlotSize];
    // The processor's register image and the drivers' presence bits;
    // written under the c331 manage mutex and ParaBytesLock.
    unsigned char run_status[kStatusSize];

    int test_signal(int code);
    void ram_para_save();

    // The PC's writes into the block and into a user-mode slot: 0 done,
    // 1 refused (nothing written). The caller holds the c331 manage mutex
    // and raises the flag; the bytes are stored under ParaBytesLock.
    int ZdrRamParaDeal(unsigned char* data, unsigned short len, unsigned int offset);
    int ZdrModeUserRamParaDeal(unsigned char* data, unsigned short len, unsigned int address);

    int ZdrGetImageSource(const unsigned char* image, unsigned char layer, short* isCrop, char* cropIndex,
                          unsigned char fromSlot);
    void ZdrSetEDIDPara(int input, short width, short height, short refresh);
    int ZdrLanguageChanged();
    int ZdrUserModeSaved(int slot);
    int ZdrGetCurrentModeIndex();
    int ZdrUserModeIndex(char slot, char direction);
    int mode_file_deal(int slot, int op);
    void ram_para_reset();

    // Crop table.
    void ZdrCropSourceInit();
    int ZdrGetSourceNum(int input, int n);
    int ZdrGetCropID(int input, int j);
    int ZdrAddCropID(int input);
    void ZdrGetCropPara(int input, int j, CROP_PARA* out, int* index);
    void ZdrSetCropPara(char input, char j, CROP_PARA* in);
    int ZdrAddNewCrop(int input, CROP_PARA* in);
    void ZdrDeleteCrop(char input, char j);
    void ZdrSetImageSource(int j, char input, char layer);

    // Writes block 768 to 4095 (of block, or of ram_para) into
    // /data/ram_device_info (its head and any bytes after the block are
    // kept), replacing the file as a whole; false when the file does not
    // exist or cannot be replaced.
    bool write_para_file(const unsigned char* block = nullptr);
    // The reads of the store from any thread, holding the c331 manage
    // mutex or not: under ParaBytesLock alone, a copy no writer is half way
    // through, never waiting for a change pass. The whole block; count
    // bytes from offset; one word or byte; slot s whole (kSlotSize bytes)
    // or count bytes of it from offset.
    void snapshot_block(unsigned char* out);
    void block_bytes(int offset, unsigned char* out, int count);
    uint16_t block_word(int offset);
    unsigned char block_byte(int offset);
    void snapshot_slot(int slot, unsigned char* out);
    void slot_bytes(int slot, int offset, unsigned char* out, int count);
    // count bytes of the register image from offset, read the same way.
    void status_bytes(int offset, unsigned char* out, int count);
    // Writes slot s (or image, a copy of it) to /data/modes/custom_mode<s + 1>
    // as a whole; false when it cannot be written.
    bool write_mode_file(int slot, const unsigned char* image = nullptr);

    // Drops the store so that the next pInstance() loads it afresh (tests).
    static void destroyForTest();

signals:
    void sig_update_para(int code);

private:
    ZdrRamPara();
    ~ZdrRamPara() override;
    void load_para_file();
    // Index of the first in-use record with this input and crop number, or
    // kCropCount when there is none.
    int find_crop_record(int input, int cropNumber) const;
};
