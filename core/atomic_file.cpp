#include "core/atomic_file.h"

#include "platform/board_root.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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

int removeWriteLeftovers()
{
    // Folder and the names of what an interrupted write leaves there.
    struct Leftovers {
        const char* folder;
        const char* pattern;
    };
    static const Leftovers kLeftovers[] = {
        {"/data", "^(ram_device_info\\.new|\\.upload\\.new)$"},
        {"/data/configs", "^(omenu\\.json|alias\\.json)\\.new$"},
        {"/data/configs", "^(tcpip|led_load_config)\\.ini\\.lock$"},
        {"/data/app", "^zdrK47N2\\.new$"},
        {"/data/modes", "^(custom_mode[0-9]+|MO[0-9a-f]{2}\\.json)\\.new$"},
        {"/etc", "^(udhcpd\\.conf|wpa_supplicant\\.conf|rtl_hostapd_2G\\.conf)\\.new$"},
        {"/data/rcvrecovery", "^KQFX\\.new$"},
        {"/data/smartmapping", "^KQFR\\.new$"},
    };
    int removed = 0;
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
    // The settings files' temporaries: the name and six random characters,
    // made readable by their owner only (a file kept there on purpose is
    // not).
    const QDir configs(platform::boardPath(QString("/data/configs")));
    const QRegularExpression temp("^(tcpip|led_load_config)\\.ini\\.[A-Za-z0-9]{6}$");
    for (const QString& name : configs.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ReadOther | QFileDevice::WriteOther;
        if (temp.match(name).hasMatch() && !(QFile::permissions(configs.filePath(name)) & others) &&
            QFile::remove(configs.filePath(name)))
            ++removed;
    }
    return removed;
}
