#include "core/atomic_file.h"

#include "platform/board_root.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const unsigned char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void syncFolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool writeFileAtomically(const std::string& hostPath, const unsigned char* data, size_t size,
                         const std::string& tmpHostPath)
{
    const std::string tmp = tmpHostPath.empty() ? hostPath + ".new" : tmpHostPath;
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, data, size) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), hostPath.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    syncFolderOf(hostPath);
    return true;
}

bool removeFileDurably(const std::string& hostPath)
{
    if (::unlink(hostPath.c_str()) != 0 && errno != ENOENT)
        return false;
    syncFolderOf(hostPath);
    return true;
}

bool readWholeFile(const std::string& hostPath, std::vector<unsigned char>& out)
{
    out.clear();
    FILE* f = std::fopen(hostPath.c_str(), "rb");
    if (!f)
        return false;
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

const char* const kUploadTemporary = "/data/.upload.new";

namespace {

bool laterOrSame(const timespec& a, const timespec& b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

// The temporaries of a settings file (QSettings) whose save was cut short.
// The save takes the file's lock ("<name>.lock", written first and synced),
// then puts its temporary beside the file as "<name>." and six random
// letters, with the file's own mode, and renames it over the file. A
// temporary is therefore present only while the lock is, and came into
// being after it: a file of the same pattern that is older than the lock
// (a copy kept by hand, such as "tcpip.ini.backup") is not one and stays.
int removeSettingsTemporaries(const QDir& configs, const QString& settingsName)
{
    const std::string lockPath = configs.filePath(settingsName + ".lock").toStdString();
    struct stat lock {};
    if (::lstat(lockPath.c_str(), &lock) != 0 || !S_ISREG(lock.st_mode))
        return 0;
    const QRegularExpression temp("^" + QRegularExpression::escape(settingsName) + "\\.[A-Za-z]{6}$");
    int removed = 0;
    for (const QString& name : configs.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!temp.match(name).hasMatch())
            continue;
        const std::string path = configs.filePath(name).toStdString();
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && laterOrSame(st.st_ctim, lock.st_mtim) &&
            ::unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

} // namespace

int removeWriteLeftovers()
{
    int removed = 0;
    // The settings files' temporaries first: their lock tells them apart.
    const QDir configs(platform::boardPath(QString("/data/configs")));
    if (configs.exists()) {
        for (const char* settings : {"tcpip.ini", "led_load_config.ini"})
            removed += removeSettingsTemporaries(configs, QString(settings));
    }

    // Folder and the names of what an interrupted write leaves there.
    struct Leftovers {
        const char* folder;
        const char* pattern;
    };
    static const Leftovers kLeftovers[] = {
        {"/data", "^(ram_device_info\\.new|\\.upload\\.new)$"},
        {"/data/configs", "^(omenu\\.json|alias\\.json|wifi_restore|fpga[01]_flash_writing|brightness_storing)\\.new$"},
        {"/data/configs", "^(tcpip|led_load_config)\\.ini\\.lock$"},
        {"/data/app", "^zdrK47N2\\.new$"},
        {"/data/modes", "^(custom_mode[0-9]+|MO[0-9a-f]{2}\\.json)\\.new$"},
        {"/etc", "^(udhcpd\\.conf|wpa_supplicant\\.conf|rtl_hostapd_2G\\.conf)\\.new$"},
        {"/data/rcvrecovery", "^KQFX\\.new$"},
        {"/data/smartmapping", "^KQFR\\.new$"},
    };
    for (const Leftovers& l : kLeftovers) {
        const QDir dir(platform::boardPath(QString(l.folder)));
        if (!dir.exists())
            continue;
        const QRegularExpression re(l.pattern);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (re.match(name).hasMatch() && QFile::remove(dir.filePath(name)))
                ++removed;
        }
    }
    return removed;
}
