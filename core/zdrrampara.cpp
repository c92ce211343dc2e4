#include "core/zdrrampara.h"

#include "core/atomic_file.h"
#include "core/brightness_acts.h"
#include "core/default_para.h"
#include "core/global.h"
#include "core/gui_handoff.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/mode_saves.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "videochip/c331_manage.h"

#include <QFileInfo>
#include <QMutexLocker>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

unsigned char g_cut_source_state[30] = {};

Published<ZdrRamPara> ZdrRamPara::p_zdrrampara_config;

std::mutex ParaBytesLock::mutex;
thread_local int ParaBytesLock::depth = 0;

ParaBytesLock::ParaBytesLock()
{
    if (depth++ == 0)
        mutex.lock();
}

ParaBytesLock::~ParaBytesLock()
{
    if (--depth == 0)
        mutex.unlock();
}

ParaWriteLock::ManageHold::ManageHold() : taken(!C331ParaLock::held())
{
    if (taken)
        C331ParaLock::acquire();
}

ParaWriteLock::ManageHold::~ManageHold()
{
    if (taken)
        C331ParaLock::release();
}

ZdrRamPara& ParaWriteLock::store()
{
    return target ? *target : *ZdrRamPara::p_zdrrampara_config;
}

ZdrRamPara* ParaWriteLock::store_or_null()
{
    return target ? target : static_cast<ZdrRamPara*>(ZdrRamPara::p_zdrrampara_config);
}

ParaWriteLock::ParaWriteLock()
{
    if (ZdrRamPara* s = store_or_null()) {
        blackout_before = le16(s->m_block, para::kBlackout);
        brightness_before = le16(s->m_block, para::kBrightness);
    }
}

ParaWriteLock::ParaWriteLock(ZdrRamPara& store) : target(&store)
{
    blackout_before = le16(store.m_block, para::kBlackout);
    brightness_before = le16(store.m_block, para::kBrightness);
}

ParaWriteLock::ParaWriteLock(System) : system_write(true)
{
    // The short lock is this hold's own: held deeper, the thread is inside
    // another hold, whose act this write would be taken for.
    if (ParaBytesLock::depth > 1) {
        std::fprintf(stderr, "the system's write-back taken inside a user's hold of the parameter store\n");
        std::fflush(stderr);
        std::abort();
    }
}

static_assert(static_cast<int>(SystemWord::kBlackout) == para::kBlackout &&
                  static_cast<int>(SystemWord::kBrightness) == para::kBrightness,
              "the system's words are the block's");

void SystemWriteLock::write_word(SystemWord word, uint16_t value)
{
    setLe16(lock_.block(), static_cast<int>(word), value);
}

ParaWriteLock::~ParaWriteLock()
{
    // Still inside the hold (the members are released after this body):
    // the acts are recorded with the write that made them.
    ZdrRamPara* s = store_or_null();
    if (system_write || !s || blackout_before < 0)
        return;
    BrightnessActs::pInstance()->hold_ended(static_cast<uint16_t>(brightness_before),
                                            le16(s->m_block, para::kBrightness), brightness_noted,
                                            brightness_deferred);
    // Only the program's store is the screen's.
    if (s != static_cast<ZdrRamPara*>(ZdrRamPara::p_zdrrampara_config))
        return;
    const uint16_t now = le16(s->m_block, para::kBlackout);
    if (blackout_noted || now != blackout_before) {
        screen_act.dark = now != 0 ? 1 : 0;
        s->blackout_written_ = -1;   // the word holds this act now
    }
}

namespace {
std::atomic<BlackoutWordListener*> blackoutListener{nullptr};
}

ParaWriteLock::ScreenActNote::~ScreenActNote()
{
    if (dark < 0)
        return;
    if (BlackoutWordListener* l = blackoutListener.load())
        l->word_written(dark != 0);
}

void ZdrRamPara::set_blackout_listener(BlackoutWordListener* listener)
{
    blackoutListener.store(listener);
    ZdrRamPara* s = p_zdrrampara_config;
    if (listener && s && s->block_word(para::kBlackout) != 0)
        listener->word_written(true);
}

BlackoutWordListener* ZdrRamPara::blackout_listener()
{
    return blackoutListener.load();
}

void ZdrRamPara::pc_flag_applies()
{
    const int blackout = take_blackout_written();
    if (blackout < 0)
        return;
    if (BlackoutWordListener* l = blackoutListener.load())
        l->word_applied(blackout != 0);
}

unsigned char* ParaWriteLock::block()
{
    return store().m_block;
}

void ParaWriteLock::write_pc_ram(int offset, const unsigned char* data, int len)
{
    std::memcpy(block() + offset, data, static_cast<size_t>(len));
    if (offset < para::kBlackout + 2 && offset + len > para::kBlackout) {
        // Applied by the flag, as every other word of the block.
        const uint16_t word = le16(block(), para::kBlackout);
        store().blackout_written_ = word;
        blackout_before = word;
    }
    if (offset < para::kBrightness + 2 && offset + len > para::kBrightness) {
        // The percent too, whole or in part: taken at the flag.
        BrightnessActs::pInstance()->percent_written_by_ram(le16(block(), para::kBrightness));
        brightness_deferred = true;
    }
}

void ParaWriteLock::blackout_command(uint16_t value)
{
    setLe16(block(), para::kBlackout, value);
    blackout_noted = true;
}

void ParaWriteLock::set_brightness(uint16_t percent)
{
    setLe16(block(), para::kBrightness, percent);
    brightness_noted = true;
}

void ParaWriteLock::load_mode(int s)
{
    std::memcpy(block() + para::kModeStart, store().m_slots[s] + 2, para::kModeSize);
    setLe16(block(), para::kCurrentMode, static_cast<uint16_t>(s + 1));
    blackout_noted = true;     // the mode brings its black-out word
    brightness_noted = true;   // and its percent, whatever the word held
}

unsigned char* ParaWriteLock::slot(int s)
{
    return store().m_slots[s];
}

unsigned char* ParaWriteLock::status()
{
    return store().m_status;
}

void ParaWriteLock::raise(unsigned char value)
{
    // A flag 2 takes the user-mode files in the hold that raises it, as
    // the slots stand now (core/mode_saves.h): the only way to raise it.
    if (value >= 2)
        ModeSaves::take_slot_files(*this);
    C331ParaLock::raise_flag(value);
}


#if defined(ZDR_LOCK_CHECKS) && ZDR_LOCK_CHECKS
void lock_check::short_lock_is_leaf(const char* what)
{
    if (!ParaBytesLock::held())
        return;
    std::fprintf(stderr, "lock order: %s taken while the parameter store's short lock is held\n", what);
    std::fflush(stderr);
    std::abort();
}
#endif

namespace {

const char* const kParaFile = "/data/ram_device_info";

void sleepUs(unsigned us)
{
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

std::string modeFilePath(int slot)
{
    return "/data/modes/custom_mode" + std::to_string(slot + 1);
}

// "MO" + the mode number as two lower-case hexadecimal digits + ".json".
std::string modeMenuPath(int slot)
{
    char name[32];
    std::snprintf(name, sizeof(name), "/data/modes/MO%02x.json", slot + 1);
    return name;
}

bool validInput(int input) { return input >= 0 && input < para::kInputCount; }
bool validSlot(int slot) { return slot >= 0 && slot < ZdrRamPara::kSlotCount; }

} // namespace

ZdrRamPara::ZdrRamPara()
{
    std::memset(m_block, 0, sizeof(m_block));
    std::memset(m_shadow, 0, sizeof(m_shadow));
    std::memset(m_slots, 0, sizeof(m_slots));
    std::memset(m_status, 0, sizeof(m_status));
}

ZdrRamPara::~ZdrRamPara() = default;

void ZdrRamPara::destroyForTest()
{
    delete p_zdrrampara_config;
    p_zdrrampara_config = nullptr;
    std::memset(g_cut_source_state, 0, sizeof(g_cut_source_state));
    ModeSaves::reset_for_test();
    BrightnessActs::reset_for_test();
}

ZdrRamPara* ZdrRamPara::pInstance()
{
    if (p_zdrrampara_config)
        return p_zdrrampara_config;
    ZdrRamPara* p = new ZdrRamPara();

    p->load_para_file();

    // What the last run left running does not come back after a restart.
    std::memset(p->m_block + para::kTestPattern, 0, 4);
    // A user-mode save request is taken at the PC's flag (or by the
    // refresh or the stop that follows a request no flag took); one a run
    // left in the file (cut short by a power cut) is not taken at the next
    // start.
    setLe16(p->m_block, para::kModeSaveRequest, 0);
    setLe16(p->m_block, para::kBlackout, 0);
    g_language = p->ram_para[para::kLanguage];
    p->language_shown_ = le16(p->ram_para, para::kLanguage);
    for (int l = 0; l < para::kLayerCount; ++l) {
        p->m_block[para::kLayerFade + 4 * l] = 60;
        p->m_block[para::kLayerFade + 4 * l + 2] = 60;
    }
    p->ZdrCropSourceInit();
    std::memcpy(p->m_shadow, p->ram_para, sizeof(p->m_shadow));
    BrightnessActs::pInstance()->store_loaded(le16(p->ram_para, para::kBrightness));

    for (int slot = 0; slot < kSlotCount; ++slot) {
        p->mode_file_deal(slot, kModeFileLoad);
        sleepUs(100);
    }

    std::memset(p->m_status + 37, 0, 1061 - 37);
    p->m_status[37] = 0x80;
    p->m_status[38] = 0x1F;
    p->m_status[39] = 0x06;
    // The link threads already run: they see the store once it is loaded.
    p_zdrrampara_config = p;
    return p;
}

void ZdrRamPara::load_para_file()
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    std::vector<unsigned char> file;
    if (!readWholeFile(platform::boardPath(kParaFile), file))
        return;
    // A file cut short (a full disk, an old tool) leaves the block's tail
    // at its defaults rather than at zero: a zero screen size or a zero
    // window would leave the screen dark.
    const DefaultParaImage& defaults = defaultParaImage();
    for (int i = 0; i < para::kPersistSize; ++i) {
        const size_t at = static_cast<size_t>(para::kFileHeadSize + i);
        m_block[para::kPersistStart + i] = at < file.size() ? file[at] : defaults[at];
    }
    if (file.size() < static_cast<size_t>(para::kFileHeadSize + para::kPersistSize))
        writeLogMsg(WARNING, "parameter file is short (" + std::to_string(file.size()) +
                                 " bytes); its missing tail taken from the defaults");
}

void ZdrRamPara::snapshot_block(unsigned char* out)
{
    ParaBytesLock bytes;
    std::memcpy(out, ram_para, sizeof(ram_para));
}

void ZdrRamPara::block_bytes(int offset, unsigned char* out, int count)
{
    if (offset < 0 || count < 0 || offset + count > para::kBlockSize)
        return;
    ParaBytesLock bytes;
    std::memcpy(out, ram_para + offset, static_cast<size_t>(count));
}

uint16_t ZdrRamPara::block_word(int offset)
{
    ParaBytesLock bytes;
    return le16(ram_para, offset);
}

unsigned char ZdrRamPara::block_byte(int offset)
{
    ParaBytesLock bytes;
    return ram_para[offset];
}

void ZdrRamPara::snapshot_slot(int slot, unsigned char* out)
{
    ParaBytesLock bytes;
    std::memcpy(out, mode_user_para[slot], kSlotSize);
}

void ZdrRamPara::slot_bytes(int slot, int offset, unsigned char* out, int count)
{
    if (!validSlot(slot) || offset < 0 || count < 0 || offset + count > kSlotSize)
        return;
    ParaBytesLock bytes;
    std::memcpy(out, mode_user_para[slot] + offset, static_cast<size_t>(count));
}

void ZdrRamPara::status_bytes(int offset, unsigned char* out, int count)
{
    if (offset < 0 || count < 0 || offset + count > kStatusSize)
        return;
    ParaBytesLock bytes;
    std::memcpy(out, run_status + offset, static_cast<size_t>(count));
}

void ZdrRamPara::shadow_bytes(int offset, unsigned char* out, int count)
{
    if (offset < 0 || count < 0 || offset + count > para::kBlockSize)
        return;
    ParaBytesLock bytes;
    std::memcpy(out, ram_para_shadow + offset, static_cast<size_t>(count));
}

void ZdrRamPara::record_persisted(const unsigned char* block)
{
    ParaBytesLock bytes;
    std::memcpy(m_shadow, block, sizeof(m_shadow));
}

bool ZdrRamPara::persist_block(unsigned settleMs, const unsigned char* image)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    unsigned char block[para::kBlockSize];
    {
        ParaBytesLock bytes;
        std::memcpy(block, image ? image : ram_para, sizeof(block));
        if (std::memcmp(block, ram_para_shadow, sizeof(block)) == 0)
            return true;
    }
    if (traceOn())
        std::printf("\n ram_para diffrent !");
    // A brightness percent not yet stored is named by the store mark first.
    BrightnessActs::pInstance()->mark_before_file();
    const bool written = write_para_file(block);
    Utils::system_mutex("sync");
    if (settleMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    // The shadow records what was written: a store made meanwhile differs
    // from it and is written by the next refresh.
    record_persisted(block);
    return written;
}

bool ZdrRamPara::write_para_file(const unsigned char* block)
{
    if (!block)
        block = ram_para;
    const std::string path = platform::boardPath(kParaFile);
    std::vector<unsigned char> file;
    if (!readWholeFile(path, file))
        return false;
    const size_t end = para::kFileHeadSize + para::kPersistSize;
    if (file.size() < end)
        file.resize(end, 0);
    std::memcpy(file.data() + para::kFileHeadSize, block + para::kPersistStart, para::kPersistSize);
    if (!writeFileAtomically(path, file.data(), file.size())) {
        writeLogMsg(ERROR, "parameter file could not be written");
        return false;
    }
    return true;
}

bool ZdrRamPara::write_mode_file(int slot, const unsigned char* image)
{
    if (!validSlot(slot))
        return false;
    if (!image)
        image = mode_user_para[slot];
    if (!writeFileAtomically(platform::boardPath(modeFilePath(slot)), image, kSlotFileSize)) {
        writeLogMsg(ERROR, "user mode file " + std::to_string(slot + 1) + " could not be written");
        return false;
    }
    return true;
}

bool ZdrRamPara::read_mode_file(int slot, std::vector<unsigned char>& out)
{
    return validSlot(slot) && readWholeFile(platform::boardPath(modeFilePath(slot)), out);
}

bool ZdrRamPara::write_mode_files(int slot, const unsigned char* image, bool menu)
{
    if (!validSlot(slot))
        return false;
    bool written;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        // A mode saved with the OSD on keeps a copy of the OSD menu beside
        // it, copied whole (never a half-written copy) before the mode.
        if (menu) {
            std::vector<unsigned char> bytes;
            if (readWholeFile(platform::boardPath(std::string("/data/configs/omenu.json")), bytes))
                writeFileAtomically(platform::boardPath(modeMenuPath(slot)), bytes.data(), bytes.size());
        }
        written = write_mode_file(slot, image);
    }
    if (written)
        Utils::system_mutex("sync");
    return written;
}

void ZdrRamPara::delete_mode_files(int slot, bool menu)
{
    platform::shell().run("rm  -rf  " + modeFilePath(slot));
    sleepUs(100);
    if (menu)
        platform::shell().run("rm  -rf  " + modeMenuPath(slot));
    sleepUs(100);
    platform::shell().run("sync");
    sleepUs(100);
}

void ZdrRamPara::snapshot_store(unsigned char* block, unsigned char (*images)[kSlotSize])
{
    ParaBytesLock bytes;
    std::memcpy(block, m_block, sizeof(m_block));
    std::memcpy(images, m_slots, sizeof(m_slots));
}

int ZdrRamPara::test_signal(int code)
{
    // Emissions go one at a time. From the GUI thread the refresh runs at
    // once, inside the mutex; a refresh that asks for another one (a page
    // saving the block) must not wait on the mutex its own thread holds.
    static thread_local int emitting = 0;
    gui_handoff::posted();
    if (emitting > 0) {
        ++emitting;
        emit sig_update_para(code);
        --emitting;
        return 1;
    }
    QMutexLocker lock(&Utils::_test_signal_mutex);
    ++emitting;
    emit sig_update_para(code);
    --emitting;
    return 1;
}

void ZdrRamPara::ram_para_save()
{
    test_signal(1);
}

int ZdrRamPara::ZdrRamParaDeal(unsigned char* data, unsigned short len, unsigned int offset)
{
    if (static_cast<unsigned long>(offset) + len > para::kBlockSize)
        return 1;
    if (len == 0)
        return 0;
    ParaWriteLock bytes(*this);
    bytes.write_pc_ram(static_cast<int>(offset), data, len);
    return 0;
}

int ZdrRamPara::take_blackout_written()
{
    ParaBytesLock bytes;
    const int written = blackout_written_;
    blackout_written_ = -1;
    return written;
}

bool ZdrRamPara::blackout_written_pending()
{
    ParaBytesLock bytes;
    return blackout_written_ >= 0;
}

int ZdrRamPara::ZdrModeUserRamParaDeal(unsigned char* data, unsigned short len, unsigned int address)
{
    const unsigned int mode = (address >> 12) & 0xFF;
    if (address > 0xFFFFF || mode < 1 || mode > 16)
        return 1;
    const unsigned int offset = address & 0xFFF;
    if (offset + len > static_cast<unsigned int>(kSlotFileSize))
        return 1;
    if (traceOn())
        std::printf("\n write ram_user_mode = %#x \n", mode);
    if (len) {
        ParaWriteLock bytes(*this);
        std::memcpy(bytes.slot(mode - 1) + offset, data, len);
    }
    return 0;
}

int ZdrRamPara::ZdrGetImageSource(const unsigned char* image, unsigned char layer, short* isCrop, char* cropIndex,
                                  unsigned char fromSlot)
{
    const int shift = fromSlot ? para::kModeStart : 0;
    const uint16_t word = le16(image, para::layer(layer) + para::kLayerInput - shift);
    if (!(word & para::kLayerInputIsCrop)) {
        *isCrop = 0;
        return word & 0xFF;
    }
    *isCrop = 1;
    const int k = word & 0xFF;
    *cropIndex = static_cast<char>(k);
    return image[para::crop(k) - shift];
}

void ZdrRamPara::ZdrSetEDIDPara(int input, short width, short height, short refresh)
{
    // A record beyond the six inputs would land in other fields.
    if (!validInput(input))
        return;
    ParaWriteLock lock(*this);
    setLe16(lock.block(), para::edid(input), static_cast<uint16_t>(width));
    setLe16(lock.block(), para::edid(input) + 2, static_cast<uint16_t>(height));
    setLe16(lock.block(), para::edid(input) + 4, static_cast<uint16_t>(refresh));
    lock.raise(1);
}

int ZdrRamPara::ZdrLanguageChanged()
{
    ParaBytesLock bytes;
    const uint16_t language = le16(ram_para, para::kLanguage);
    if (language == language_shown_)
        return 0;
    language_shown_ = language;
    g_language = ram_para[para::kLanguage];
    return 1;
}

int ZdrRamPara::ZdrUserModeSaved(int slot)
{
    if (!validSlot(slot))
        return 0;
    ParaBytesLock bytes;
    return mode_user_para[slot][0] == 0xAA && mode_user_para[slot][1] == 0xAA ? 1 : 0;
}

int ZdrRamPara::ZdrUserModeLoad(int slot)
{
    if (!validSlot(slot))
        return 0;
    ParaWriteLock lock(*this);
    if (!ZdrUserModeSaved(slot))
        return 0;
    lock.load_mode(slot);
    lock.raise(1);
    return 1;
}

int ZdrRamPara::ZdrGetCurrentModeIndex()
{
    const int mode = block_byte(para::kCurrentMode);
    return mode > 16 ? 0 : mode;
}

int ZdrRamPara::ZdrUserModeIndex(char slot, char direction)
{
    const int s = static_cast<unsigned char>(slot);
    if (s >= kSlotCount)
        return 0x100;
    int start;
    int step;
    switch (direction) {
    case 0: start = s - 1; step = -1; break;
    case 1: start = s + 1; step = 1; break;
    case 2: start = s; step = 1; break;
    default: return 0x100;
    }
    for (int i = 0; i < kSlotCount; ++i) {
        const int candidate = ((start + step * i) % kSlotCount + kSlotCount) % kSlotCount;
        if (ZdrUserModeSaved(candidate))
            return candidate;
    }
    return 0x100;
}

int ZdrRamPara::mode_file_deal(int slot, ModeFileOp op)
{
    if (!validSlot(slot))
        return 0;
    if (op == kModeFileDelete) {
        // A delete is one of the user-mode acts: taken in the hold that
        // finds the slot saved, its files removed in the order of the acts.
        bool taken;
        {
            ParaWriteLock lock(*this);
            taken = ModeSaves::take_delete(lock, slot);
        }
        if (!taken)
            return -1;
        ModeSaves::carry_out(*this);
        return 0;
    }

    std::vector<unsigned char> image(kSlotFileSize);
    size_t got = 0;
    bool opened = false;
    Utils::_file_deal_mutex.lock();
    FILE* f = std::fopen(platform::boardPath(modeFilePath(slot)).c_str(), "rb");
    if (f) {
        opened = true;
        got = std::fread(image.data(), 1, kSlotFileSize, f);
        std::fclose(f);
    }
    Utils::_file_deal_mutex.unlock();
    if (opened) {
        {
            // A short file fills only what it holds.
            ParaWriteLock lock(*this);
            std::memcpy(lock.slot(slot), image.data(), got);
        }
        platform::shell().run("sync");
        sleepUs(100);
        return 1;
    }
    ParaWriteLock lock(*this);
    lock.slot(slot)[0] = 0xFF;
    lock.slot(slot)[1] = 0xFF;
    return 0;
}

void ZdrRamPara::ram_para_reset()
{
    if (traceOn())
        std::printf("\n ready to write default para ramlist ");
    const DefaultParaImage& image = defaultParaImage();
    const std::string path = platform::boardPath(kParaFile);
    bool written;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        written = writeFileAtomically(path, image.data(), image.size());
        if (written) {
            platform::shell().run("sync");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ParaWriteLock lock(*this);
    if (written)
        std::memcpy(lock.block() + para::kPersistStart, image.data() + para::kFileHeadSize, para::kPersistSize);
    std::memcpy(m_shadow, ram_para, sizeof(m_shadow));
}

// ---- crop table ----

void ZdrRamPara::ZdrCropSourceInit()
{
    // The PC writes the crop table too: its heads are copied in one piece.
    uint16_t heads[para::kCropCount];
    {
        ParaBytesLock bytes;
        for (int k = 0; k < para::kCropCount; ++k)
            heads[k] = le16(ram_para, para::crop(k));
    }
    std::memset(g_cut_source_state, 0, sizeof(g_cut_source_state));
    for (int k = 0; k < para::kCropCount; ++k) {
        const uint16_t head = heads[k];
        if (!(head & para::kCropInUse))
            continue;
        const int input = head & 0xFF;
        const int number = ((head >> 8) & 0x7F) + 1;
        // The PC may have written any head; only inputs 0 to 5 and crop
        // numbers 1 to 40 have a place in the map.
        if (!validInput(input) || number > para::kCropCount)
            continue;
        g_cut_source_state[5 * input + (number - 1) / 8] |= static_cast<unsigned char>(1 << ((number - 1) % 8));
    }
}

int ZdrRamPara::ZdrGetSourceNum(int input, int n)
{
    if (n < 1)
        return 0;
    ParaBytesLock bytes;
    int count = 0;
    for (int k = 0; k < n && k < para::kCropCount; ++k) {
        const uint16_t head = le16(ram_para, para::crop(k));
        if ((head & para::kCropInUse) && (head & 0xFF) == input)
            ++count;
    }
    return count;
}

int ZdrRamPara::ZdrGetCropID(int input, int j)
{
    if (!validInput(input) || j < 1)
        return 0;
    int seen = 0;
    for (int n = 1; n <= para::kCropCount; ++n) {
        if (g_cut_source_state[5 * input + (n - 1) / 8] & (1 << ((n - 1) % 8))) {
            if (++seen == j)
                return n;
        }
    }
    return 0;
}

int ZdrRamPara::ZdrAddCropID(int input)
{
    if (!validInput(input))
        return 0;
    for (int n = 1; n <= para::kCropCount; ++n) {
        if (!(g_cut_source_state[5 * input + (n - 1) / 8] & (1 << ((n - 1) % 8))))
            return n;
    }
    return 0;
}

int ZdrRamPara::find_crop_record(int input, int cropNumber) const
{
    if (cropNumber < 1)
        return para::kCropCount;
    for (int k = 0; k < para::kCropCount; ++k) {
        const uint16_t head = le16(ram_para, para::crop(k));
        if ((head & para::kCropInUse) && (head & 0xFF) == input && ((head >> 8) & 0x7F) == cropNumber - 1)
            return k;
    }
    return para::kCropCount;
}

void ZdrRamPara::ZdrGetCropPara(int input, int j, CROP_PARA* out, int* index)
{
    ParaBytesLock bytes;
    const int k = find_crop_record(input, ZdrGetCropID(input, j));
    *index = k;
    if (k == para::kCropCount)
        return;
    const int off = para::crop(k);
    out->head = le16(ram_para, off);
    out->x = le16(ram_para, off + 2);
    out->y = le16(ram_para, off + 4);
    out->w = le16(ram_para, off + 6);
    out->h = le16(ram_para, off + 8);
}

void ZdrRamPara::ZdrSetCropPara(char input, char j, CROP_PARA* in)
{
    ParaWriteLock bytes(*this);
    const int k = find_crop_record(static_cast<unsigned char>(input), ZdrGetCropID(static_cast<unsigned char>(input), j));
    if (k == para::kCropCount)
        return;
    const int off = para::crop(k);
    setLe16(bytes.block(), off + 2, static_cast<uint16_t>(in->x));
    setLe16(bytes.block(), off + 4, static_cast<uint16_t>(in->y));
    setLe16(bytes.block(), off + 6, static_cast<uint16_t>(in->w));
    setLe16(bytes.block(), off + 8, static_cast<uint16_t>(in->h));
    bytes.raise(1);
}

int ZdrRamPara::ZdrAddNewCrop(int input, CROP_PARA* in)
{
    // The free number and the free record are found and taken under one
    // hold: the map is drawn again from the table, in which a crop the PC
    // added since the page's last look has its number.
    ParaWriteLock lock(*this);
    ZdrCropSourceInit();
    const int c = ZdrAddCropID(input);
    int k = 0;
    while (k < para::kCropCount && (le16(ram_para, para::crop(k)) & para::kCropInUse))
        ++k;
    // No free record, or no free crop number for the input (which would
    // otherwise be written as crop number 128).
    if (k == para::kCropCount || c == 0)
        return c;
    const int off = para::crop(k);
    setLe16(lock.block(), off, static_cast<uint16_t>(para::kCropInUse | (((c - 1) & 0x7F) << 8) | (input & 0xFF)));
    setLe16(lock.block(), off + 2, static_cast<uint16_t>(in->x));
    setLe16(lock.block(), off + 4, static_cast<uint16_t>(in->y));
    setLe16(lock.block(), off + 6, static_cast<uint16_t>(in->w));
    setLe16(lock.block(), off + 8, static_cast<uint16_t>(in->h));
    lock.raise(1);
    return 0;
}

void ZdrRamPara::ZdrDeleteCrop(char input, char j)
{
    ParaWriteLock lock(*this);
    const int k = find_crop_record(static_cast<unsigned char>(input), ZdrGetCropID(static_cast<unsigned char>(input), j));
    if (k == para::kCropCount)
        return;
    setLe16(lock.block(), para::crop(k), 0);
    lock.raise(1);
}

void ZdrRamPara::ZdrSetImageSource(int j, char input, char layer)
{
    const int in = static_cast<unsigned char>(input);
    const int l = static_cast<unsigned char>(layer);
    if (l >= para::kLayerCount)
        return;
    ParaWriteLock lock(*this);
    uint16_t word;
    if (j == 0) {
        word = static_cast<uint16_t>(in & 0x7FFF);
    } else {
        // A crop that has gone since the page listed it changes nothing;
        // the layer keeps what it shows.
        const int k = find_crop_record(in, ZdrGetCropID(in, j));
        if (k == para::kCropCount)
            return;
        word = static_cast<uint16_t>(para::kLayerInputIsCrop | k);
    }
    setLe16(lock.block(), para::layer(l) + para::kLayerInput, word);
    // The picture no longer matches the mode a load brought, whether or not
    // the load has reached the file.
    setLe16(lock.block(), para::kCurrentMode, 0);
    lock.raise(1);
}
