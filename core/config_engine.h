// Settings of the device in /data/configs/tcpip.ini (group "config"): 17
// named items with defaults that are written into the file when it lacks
// them. The first creation of the engine also derives the device id, loads
// the network globals and checks the launch line.
#pragma once

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>
#include <utility>
#include <vector>

class ConfigItem {
public:
    enum ConfigName {
        TcpPort = 0,
        UdpPort,
        IPAddress,
        SubNetMask,
        GateWay,
        MAC,
        Barcode,
        WifiIPAddress,
        EDIDCheck,
        SourceCheck,
        ImageLayoutPassword,
        eVoqcloudserverip,
        eVoqcloudserverport,
        eVoqclouduserip,
        eVoqcloudcontrollername,
        ZdrMaxPixel_UINT,
        usbupgradedir,
        ConfigCount // number of items; also "no such item"
    };

    enum Kind : unsigned char { KindString = 0, KindInteger = 1 };

    // Records the item in ConfigEngine::_itemMap and takes its value from
    // the file; a missing or empty value is replaced by the default, which is
    // written back under the key when persistent is true.
    ConfigItem(QString key, ConfigName name, QVariant defaultValue, bool persistent,
               unsigned char kind, QString file, QSettings* settings);

    QString key;          // "config/" + name
    ConfigName name;
    QVariant defaultValue;
    QVariant value;       // current value
    bool persistent;
    unsigned char kind;   // KindInteger or KindString
    QString file;         // the file it lives in (system path)
};

class ConfigEngine : public QObject {
    Q_OBJECT
public:
    // System path of the settings file and of the launch-line file.
    static const char* const kConfigFile;
    static const char* const kLaunchFile;
    // The launch line of the standard application.
    static const char* const kStandardLaunchLine;

    // Creates the engine on the first call (with the start-up work of the
    // device) and returns it; never null.
    static ConfigEngine* pInstance();

    QVariant read_config_variant(ConfigItem::ConfigName name);
    // The items of a set read together (one per name, in order): a set
    // written by write_config_variants meanwhile is read all old or all new.
    std::vector<QVariant> read_config_variants(const std::vector<ConfigItem::ConfigName>& names);
    // Sets the item and writes it to the file at once (setValue, then sync).
    void write_config_variant(ConfigItem::ConfigName name, QVariant value);
    // Sets the items of one action together and writes the file once: it
    // is replaced whole, so a reader (or the next start after a power cut)
    // sees all of the old values or all of the new ones.
    void write_config_variants(const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& values);
    // The same, in one hold with a look at the items of `expected`: when any
    // of them no longer holds the value given there (another writer changed
    // it since the caller read it), nothing is written and the result is
    // false.
    bool write_config_variants_if(const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& expected,
                                  const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& values);

    // Look-ups by name, with or without the "config/" prefix.
    ConfigItem* getConfigItem(QString name);
    bool containsItemStr(QString name);
    // ConfigItem::ConfigCount when the name is not an item.
    ConfigItem::ConfigName strToItem(QString name);

    // The default parameter image (4096 bytes, laid out as the file
    // /data/ram_device_info).
    static const unsigned char* const default_para_ramlist;

    static ConfigEngine* p_config;
    static QMap<QString, ConfigItem::ConfigName> _itemMap;

    // For tests only: drops the engine and the item map so that the next
    // pInstance() starts again on the current board root.
    static void resetForTest();

private:
    ConfigEngine();
    ~ConfigEngine() override;

    static QString withPrefix(const QString& name);
    static void readDeviceId();
    static void checkLaunchLine();
    static void createDefaultParaFile();
    // Sets the items and writes the file once; m_mutex held.
    void store_locked(const std::vector<std::pair<ConfigItem::ConfigName, QVariant>>& values);

    std::unique_ptr<QSettings> m_settings;
    std::vector<std::unique_ptr<ConfigItem>> m_items;
    // Guards the items and the settings object: pages and control-link
    // threads read and write items at the same time. A leaf lock.
    QMutex m_mutex;
};
