#include "core/config_engine.h"

#include "core/atomic_file.h"
#include "core/default_para.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"

#include <QMutexLocker>
#include <cstdio>
#include <cstring>

const char* const ConfigEngine::kConfigFile = "/data/configs/tcpip.ini";
const char* const ConfigEngine::kLaunchFile = "/data/configs/led_load_config.ini";
const char* const ConfigEngine::kStandardLaunchLine = "/data/app/zdrK47N -platform linuxfb";

ConfigEngine* ConfigEngine::p_config = nullptr;
QMap<QString, ConfigItem::ConfigName> ConfigEngine::_itemMap;

namespace {

// Register window of the system-on-chip that holds the unique id.
constexpr uint32_t kRiuBase = 0x1F000000;
constexpr size_t kRiuLength = 0x2B0000;
constexpr size_t kUidCtrl = 0x400C;
constexpr size_t kUidA = 0x4058;
constexpr size_t kUidB = 0x405C;
constexpr size_t kUidC = 0x4060;

struct ItemDef {
    const char* name;
    ConfigItem::ConfigName id;
    unsigned char kind;
    QVariant def;
};

std::vector<ItemDef> itemDefs()
{
    const unsigned char I = ConfigItem::KindInteger;
    const unsigned char S = ConfigItem::KindString;
    return {
        {"TcpPort", ConfigItem::TcpPort, I, QVariant(5005)},
        {"UdpPort", ConfigItem::UdpPort, I, QVariant(5008)},
        {"IPAddress", ConfigItem::IPAddress, S, QVariant(QString("192.168.1.199"))},
        {"SubNetMask", ConfigItem::SubNetMask, S, QVariant(QString("255.255.255.0"))},
        {"GateWay", ConfigItem::GateWay, S, QVariant(QString("192.168.1.1"))},
        {"MAC", ConfigItem::MAC, S, QVariant(QString("FF:FF:FF:FF:FF:FF"))},
        {"Barcode", ConfigItem::Barcode, S, QVariant(QString(" "))},
        {"WifiIPAddress", ConfigItem::WifiIPAddress, S, QVariant(QString("192.168.22.101"))},
        {"EDIDCheck", ConfigItem::EDIDCheck, S, QVariant(QString("Once"))},
        {"SourceCheck", ConfigItem::SourceCheck, I, QVariant(255)},
        {"ImageLayoutPassword", ConfigItem::ImageLayoutPassword, S, QVariant(QString("No"))},
        {"eVoqcloudserverip", ConfigItem::eVoqcloudserverip, S, QVariant(QString(" "))},
        {"eVoqcloudserverport", ConfigItem::eVoqcloudserverport, I, QVariant(QString(" "))},
        {"eVoqclouduserip", ConfigItem::eVoqclouduserip, S, QVariant(QString(" "))},
        {"eVoqcloudcontrollername", ConfigItem::eVoqcloudcontrollername, S, QVariant(QString(" "))},
        {"ZdrMaxPixel_UINT", ConfigItem::ZdrMaxPixel_UINT, I, QVariant(19600000)},
        {"usbupgradedir", ConfigItem::usbupgradedir, S, QVariant(QString("ZDR-K47"))},
    };
}

} // namespace

ConfigItem::ConfigItem(QString key_, ConfigName name_, QVariant defaultValue_, bool persistent_,
                       unsigned char kind_, QString file_, QSettings* settings)
    : key(std::move(key_)), name(name_), defaultValue(std::move(defaultValue_)),
      persistent(persistent_), kind(kind_), file(std::move(file_))
{
    ConfigEngine::_itemMap.insert(key, name);
    QVariant stored = settings ? settings->value(key) : QVariant();
    // The settings file reads an unquoted value with commas as a list: it
    // is one value all the same.
    if (stored.type() == QVariant::StringList)
        stored = stored.toStringList().join(',');
    if (stored.isValid() && !stored.toString().isEmpty()) {
        value = stored;
    } else {
        value = defaultValue;
        if (settings && persistent)
            settings->setValue(key, defaultValue);
    }
}

ConfigEngine::ConfigEngine()
{
    // The file is written synchronously from now on.
    Utils::system_mutex(QString("chattr +S %1").arg(kConfigFile));

    m_settings = std::make_unique<QSettings>(platform::boardPath(QString(kConfigFile)),
                                             QSettings::IniFormat);
    // The file is written only by the explicit syncs below and in the
    // writers: a setting changes from any thread, and the update QSettings
    // would otherwise run from the GUI thread's event loop could write the
    // first values of an action before the rest (a power cut then leaves a
    // mix).
    m_settings->moveToThread(nullptr);
    for (const ItemDef& d : itemDefs()) {
        m_items.push_back(std::make_unique<ConfigItem>(QString("config/") + d.name, d.id, d.def, true,
                                                       d.kind, QString(kConfigFile),
                                                       m_settings.get()));
    }
    // Defaults that healed the file reach it now, not at some later sync.
    m_settings->sync();
}

ConfigEngine::~ConfigEngine() = default;

ConfigEngine* ConfigEngine::pInstance()
{
    if (p_config)
        return p_config;

    p_config = new ConfigEngine();
    // Only the device id depends on the unique-id registers: the rest of the
    // start-up runs whether or not they can be read.
    readDeviceId();
    Utils::getIPAddress();
    createDefaultParaFile();
    checkLaunchLine();
    factoryage_log.clear();
    factoryage_log_num = 0;
    return p_config;
}

const unsigned char* const ConfigEngine::default_para_ramlist = defaultParaImage().data();

void ConfigEngine::createDefaultParaFile()
{
    // An existing parameter file is never rewritten here, whatever its size.
    const std::string path = platform::boardPath("/data/ram_device_info");
    if (FILE* f = std::fopen(path.c_str(), "rb+")) {
        std::fclose(f);
        return;
    }
    if (traceOn())
        std::printf("\n ConfigEngine::pInstance error fopen 01! (%s: none yet, as at a first start; the default "
                    "parameters are written to it)\n",
                    path.c_str());
    if (!writeFileAtomically(path, default_para_ramlist, defaultParaImage().size())) {
        writeLogMsg(ERROR, "the default parameter file could not be created");
        return;
    }
    Utils::system_mutex("sync");
}

void ConfigEngine::readDeviceId()
{
    std::unique_ptr<platform::MemWindow> win = platform::physMem().map(kRiuBase, kRiuLength);
    if (!win) {
        memset(g_pid, 0, sizeof g_pid);
        writeLogMsg(ERROR, "ConfigEngine: cannot map the unique-id registers, device id unknown");
        return;
    }
    win->write16(kUidCtrl, static_cast<uint16_t>(win->read16(kUidCtrl) & ~0x0100u));
    const unsigned A = win->read16(kUidA);
    const unsigned B = win->read16(kUidB);
    const unsigned C = win->read16(kUidC);
    win.reset();
    if (traceOn())
        printf("\n mmap uuid161= %#x ,%#X ,%#x \n", A, B, C);

    auto nib = [](unsigned v, int n) { return (v >> (4 * n)) & 0xF; };
    const unsigned A0 = nib(A, 0), A1 = nib(A, 1), A2 = nib(A, 2), A3 = nib(A, 3);
    const unsigned B0 = nib(B, 0), B1 = nib(B, 1), B2 = nib(B, 2), B3 = nib(B, 3);
    const unsigned C0 = nib(C, 0), C1 = nib(C, 1), C2 = nib(C, 2), C3 = nib(C, 3);

    const unsigned v[32] = {
        A3,
        B3,
        C3,
        B1,
        C1,
        C0,
        C2,
        (A3 + B3) & 1,
        (C3 + B1) >> 1,
        B0,
        B2,
        (C0 + C1) >> 1,
        (A3 + B3) >> 1,
        (C0 + C1) & 1,
        (C3 + B1) & 1,
        A2,
        A1,
        (C2 + B0) & 1,
        (B2 + A2) & 1,
        (A1 + A0) & 1,
        (A1 + A0) >> 1,
        (A3 + B3 + C3) % 3,
        (A3 + B3 + C3) / 3,
        (A3 + B2 + A2) % 3,
        (A3 + B2 + A2) / 3,
        (B1 + C2 + A1) % 3,
        (B1 + C2 + A1) / 3,
        (C1 + B0 + A0) % 3,
        (C1 + B0 + A0) / 3,
        (B2 + A2) >> 1,
        (C2 + B0) >> 1,
        A0,
    };
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) {
        g_pid[i] = digits[v[i] & 0xF];
        if (traceOn())
            printf(" %#x ", static_cast<unsigned>(static_cast<unsigned char>(g_pid[i])));
    }
}

void ConfigEngine::checkLaunchLine()
{
    QSettings launch(platform::boardPath(QString(kLaunchFile)), QSettings::IniFormat);
    const QString line = launch.value("app-1/app_path").toString();
    g_update_status = (line == kStandardLaunchLine) ? 1 : 0;
}

QString ConfigEngine::withPrefix(const QString& name)
{
    return name.startsWith("config/") ? name : QString("config/") + name;
}

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName name)
{
    QMutexLocker lock(&m_mutex);
    if (name < 0 || static_cast<size_t>(name) >= m_items.size())
        return QVariant();
    return m_items[name]->value;
}

std::vector<QVariant> ConfigEngine::read_config_variants(const std::vector<ConfigItem::ConfigName>& names)
{
    std::vector<QVariant> values;
    values.reserve(names.size());
    QMutexLocker lock(&m_mutex);
    for (ConfigItem::ConfigName name : names)
        values.push_back(name < 0 || static_cast<size_t>(name) >= m_items.size() ? QVariant() : m_items[name]->value);
    return values;
}

void ConfigEngine::write_config_variant(ConfigItem::ConfigName name, QVariant value)
{
    QMutexLocker lock(&m_mutex);
    if (name < 0 || static_cast<size_t>(name) >= m_items.size())
        return;
    ConfigItem& item = *m_items[name];
    item.value = value;
    m_settings->setValue(item.key, value);
    m_settings->sync();
}

void ConfigEngine::write_config_variants(const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& values)
{
    QMutexLocker lock(&m_mutex);
    store_locked(values);
}

bool ConfigEngine::write_config_variants_if(const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& expected,
                                            const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& values)
{
    QMutexLocker lock(&m_mutex);
    for (const auto& e : expected) {
        if (e.first < 0 || static_cast<size_t>(e.first) >= m_items.size() || m_items[e.first]->value != e.second)
            return false;
    }
    store_locked(values);
    return true;
}

void ConfigEngine::store_locked(const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& values)
{
    for (const auto& v : values) {
        if (v.first < 0 || static_cast<size_t>(v.first) >= m_items.size())
            continue;
        ConfigItem& item = *m_items[v.first];
        item.value = v.second;
        m_settings->setValue(item.key, v.second);
    }
    m_settings->sync();
}

ConfigItem* ConfigEngine::getConfigItem(QString name)
{
    const ConfigItem::ConfigName id = strToItem(name);
    if (id == ConfigItem::ConfigCount || static_cast<size_t>(id) >= m_items.size())
        return nullptr;
    return m_items[id].get();
}

bool ConfigEngine::containsItemStr(QString name)
{
    return _itemMap.contains(withPrefix(name));
}

ConfigItem::ConfigName ConfigEngine::strToItem(QString name)
{
    return _itemMap.value(withPrefix(name), ConfigItem::ConfigCount);
}

void ConfigEngine::resetForTest()
{
    delete p_config;
    p_config = nullptr;
    _itemMap.clear();
}
