#include "sim/shell_model.h"

#include "platform/board_root.h"
#include "platform/platform.h"
#include "sim/board.h"
#include "sim/host_fs.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <glob.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {
namespace {

constexpr int kRefusedStatus = 127 << 8;
constexpr int kFailedStatus = 1 << 8;

using Word = ShellModel::Word;

const std::set<std::string>& recordedCommands()
{
    static const std::set<std::string> names = {
        "ifconfig", "route",   "date",    "hwclock", "reboot",         "kill",     "killall", "pidof",
        "hostapd",  "udhcpd",  "udhcpc",  "iwconfig", "wpa_supplicant", "insmod",   "rmmod",
    };
    return names;
}

const std::set<std::string>& fileCommands()
{
    static const std::set<std::string> names = {"rm", "cp", "mv", "chmod", "chattr", "sync"};
    return names;
}

std::string trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool endsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Splits a command into words; false on an unbalanced quote.
bool splitCommand(const std::string& command, std::vector<Word>& words)
{
    Word w;
    bool inWord = false;
    char quote = 0;
    for (char c : command) {
        if (quote) {
            if (c == quote)
                quote = 0;
            else
                w.text += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
            w.quoted = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(w);
            w = Word();
            inWord = false;
        } else {
            w.text += c;
            inWord = true;
        }
    }
    if (quote)
        return false;
    if (inWord)
        words.push_back(w);
    return true;
}

bool isNullRedirection(const std::string& t)
{
    return t == ">/dev/null" || t == "1>/dev/null" || t == "2>/dev/null" || t == "&>/dev/null"
        || t == ">>/dev/null" || t == "2>>/dev/null" || t == "2>&1";
}

bool isRedirectionOperator(const std::string& t)
{
    return t == ">" || t == "1>" || t == "2>" || t == "&>" || t == ">>" || t == "2>>";
}

// Drops the trailing redirections to /dev/null and a trailing "&".
void stripTrailing(std::vector<Word>& words, bool& background)
{
    while (!words.empty()) {
        Word& last = words.back();
        if (last.quoted)
            return;
        std::string& t = last.text;
        if (t == "&") {
            background = true;
            words.pop_back();
        } else if (t.size() > 1 && t.back() == '&' && t[t.size() - 2] != '>') {
            background = true;
            t.pop_back();
        } else if (isNullRedirection(t)) {
            words.pop_back();
        } else if (t == "/dev/null" && words.size() >= 2 && !words[words.size() - 2].quoted
                   && isRedirectionOperator(words[words.size() - 2].text)) {
            words.pop_back();
            words.pop_back();
        } else if (endsWith(t, "&>/dev/null") && t.size() > 11) {
            t.resize(t.size() - 11);   // "word&>/dev/null"
        } else if (endsWith(t, ">/dev/null") && t.size() > 10) {
            t.resize(t.size() - 10);   // "word>/dev/null"
        } else {
            return;
        }
    }
}

// Shell syntax left in a word after the trailing redirections are gone.
bool hasShellSyntax(const Word& w)
{
    if (w.quoted)
        return false;
    return w.text.find_first_of(">&()") != std::string::npos || (!w.text.empty() && w.text[0] == '#');
}

std::string joinWords(const std::vector<Word>& words)
{
    std::string s;
    for (const Word& w : words) {
        if (!s.empty())
            s += ' ';
        s += w.text;
    }
    return s;
}

bool isEth0Command(const std::vector<Word>& words)
{
    return words.size() >= 2 && words[0].text == "ifconfig"
        && (words[1].text == "eth0" || words[1].text.compare(0, 5, "eth0:") == 0);
}

// Splits a command line at the semicolons outside quotes; false when there
// are none (or a quote is left open).
bool splitList(const std::string& command, std::vector<std::string>& parts)
{
    parts.clear();
    std::string part;
    char quote = 0;
    for (char c : command) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            parts.push_back(trim(part));
            part.clear();
            continue;
        }
        part += c;
    }
    if (quote || parts.empty())
        return false;
    parts.push_back(trim(part));
    return true;
}

// One command of a list: a machine command in the foreground, without
// other shell syntax.
bool listedMachineCommand(const std::string& part, std::vector<Word>& words)
{
    words.clear();
    bool background = false;
    if (part.empty() || part.find_first_of("|`<$\\\n\r") != std::string::npos ||
        part.find("&&") != std::string::npos || !splitCommand(part, words))
        return false;
    stripTrailing(words, background);
    return !background && !words.empty() && std::none_of(words.begin(), words.end(), hasShellSyntax) &&
           !words[0].quoted && recordedCommands().count(words[0].text) != 0;
}

// ---- file commands -------------------------------------------------------

struct FileContext {
    std::string rootHost;   // the board root as configured
    std::string rootReal;   // the board root resolved
};

struct Operand {
    std::string sys;    // normalised system path
    std::string host;   // path under the board root
};

// Splits the options ("-rf", "-r -f") from the operands, as the device's
// tools do: options may stand anywhere before "--"; false when an option
// letter is not one of allowed.
bool parseOptions(const std::vector<Word>& args, const std::string& allowed, std::string& letters,
                  std::vector<Word>& operands)
{
    bool optionsEnd = false;
    for (const Word& w : args) {
        const std::string& t = w.text;
        if (!optionsEnd && !w.quoted && t == "--") {
            optionsEnd = true;
            continue;
        }
        if (optionsEnd || w.quoted || t.size() < 2 || t[0] != '-') {
            operands.push_back(w);
            continue;
        }
        for (size_t k = 1; k < t.size(); ++k) {
            if (allowed.find(t[k]) == std::string::npos)
                return false;
            letters += t[k];
        }
    }
    return true;
}

bool hasOption(const std::string& letters, const char* any)
{
    return letters.find_first_of(any) != std::string::npos;
}

std::string escapeGlob(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

// Expands a pattern (a normalised system path) inside the board root.
std::vector<std::string> expandPattern(const FileContext& ctx, const std::string& pattern)
{
    std::vector<std::string> result;
    const std::string prefix = ctx.rootHost == "/" ? std::string() : ctx.rootHost;
    glob_t g{};
    if (::glob((escapeGlob(prefix) + pattern).c_str(), 0, nullptr, &g) == 0) {
        for (size_t i = 0; i < g.gl_pathc; ++i) {
            const std::string host = g.gl_pathv[i];
            if (host.compare(0, prefix.size(), prefix) != 0)
                continue;
            std::string sys;
            if (platform::normaliseSystemPath(host.substr(prefix.size()), sys))
                result.push_back(sys);
        }
    }
    ::globfree(&g);
    return result;
}

// Expands and maps the path operands; false when one is relative or climbs
// above "/".
bool mapOperands(const FileContext& ctx, const std::vector<Word>& words, std::vector<Operand>& out)
{
    for (const Word& w : words) {
        if (w.text.empty() || w.text[0] != '/')
            return false;
        std::string norm;
        if (!platform::normaliseSystemPath(w.text, norm))
            return false;
        if (!w.quoted && norm.find_first_of("*?[") != std::string::npos) {
            const std::vector<std::string> matches = expandPattern(ctx, norm);
            if (!matches.empty()) {
                for (const auto& m : matches)
                    out.push_back(Operand{m, platform::boardPath(m)});
                continue;
            }
            // No match: the word stays as written, as the shell leaves it.
        }
        out.push_back(Operand{norm, platform::boardPath(norm)});
    }
    return true;
}

// The folder that holds the operand resolves inside the root.
bool parentInside(const FileContext& ctx, const Operand& op)
{
    if (op.sys == "/")
        return true;
    return hostfs::resolvesInside(ctx.rootReal, hostfs::dirName(op.host));
}

// As parentInside; when the operand itself is a link, its target must be
// inside the root too (a dangling link counts as outside).
bool followInside(const FileContext& ctx, const std::string& host)
{
    if (!hostfs::resolvesInside(ctx.rootReal, hostfs::dirName(host)))
        return false;
    struct stat st;
    if (::lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::string target;
        return hostfs::realPath(host, target) && hostfs::within(ctx.rootReal, target);
    }
    return true;
}

bool followInside(const FileContext& ctx, const Operand& op)
{
    return op.sys == "/" || followInside(ctx, op.host);
}

bool listFolder(const std::string& path, std::vector<std::string>& names)
{
    DIR* d = ::opendir(path.c_str());
    if (!d)
        return false;
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    ::closedir(d);
    return true;
}

// Removes a file, a link (not what it points to) or a whole folder.
bool removeTree(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.c_str()) == 0;
    std::vector<std::string> names;
    bool ok = listFolder(path, names);
    for (const auto& n : names)
        ok = removeTree(path + "/" + n) && ok;
    return ::rmdir(path.c_str()) == 0 && ok;
}

bool copyFile(const std::string& src, const std::string& dst, const struct stat& st, bool preserve)
{
    const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    if (ok && preserve) {
        ::fchmod(out, st.st_mode & 07777);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out, times);
    }
    ::close(in);
    return ::close(out) == 0 && ok;
}

// Copies a file, link (as a link) or folder (with everything in it) to dst.
bool copyAny(const FileContext& ctx, const std::string& src, const std::string& dst, bool follow,
             bool preserve)
{
    struct stat st;
    if ((follow ? ::stat(src.c_str(), &st) : ::lstat(src.c_str(), &st)) != 0)
        return false;
    if (!followInside(ctx, dst))
        return false;
    struct stat ds;
    const bool dstExists = ::lstat(dst.c_str(), &ds) == 0;
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(src.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size())
            return false;
        if (dstExists && (S_ISDIR(ds.st_mode) || ::unlink(dst.c_str()) != 0))
            return false;
        return ::symlink(std::string(target.data(), static_cast<size_t>(n)).c_str(), dst.c_str()) == 0;
    }
    if (S_ISDIR(st.st_mode)) {
        struct stat fs;
        if (::stat(dst.c_str(), &fs) == 0) {
            if (!S_ISDIR(fs.st_mode))
                return false;
        } else if (::mkdir(dst.c_str(), 0700) != 0) {
            return false;
        }
        std::vector<std::string> names;
        bool ok = listFolder(src, names);
        for (const auto& n : names)
            ok = copyAny(ctx, src + "/" + n, dst + "/" + n, false, preserve) && ok;
        ::chmod(dst.c_str(), st.st_mode & 07777);
        if (preserve) {
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, dst.c_str(), times, 0);
        }
        return ok;
    }
    if (S_ISREG(st.st_mode)) {
        struct stat fs;
        if (::stat(dst.c_str(), &fs) == 0 && S_ISDIR(fs.st_mode))
            return false;
        return copyFile(src, dst, st, preserve);
    }
    return false;   // devices, pipes and sockets are not copied
}

std::string childPath(const std::string& folder, const std::string& name)
{
    return (!folder.empty() && folder.back() == '/') ? folder + name : folder + "/" + name;
}

int runRm(const FileContext& ctx, const std::vector<Word>& args, bool& refused)
{
    std::string opts;
    std::vector<Word> words;
    if (!parseOptions(args, "rRfv", opts, words))
        return kFailedStatus;
    const bool recursive = hasOption(opts, "rR");
    const bool force = hasOption(opts, "f");
    std::vector<Operand> paths;
    if (!mapOperands(ctx, words, paths)
        || !std::all_of(paths.begin(), paths.end(), [&](const Operand& p) { return parentInside(ctx, p); })) {
        refused = true;
        return kFailedStatus;
    }
    if (paths.empty())
        return force ? 0 : kFailedStatus;
    bool ok = true;
    for (const Operand& p : paths) {
        if (p.sys == "/") {   // as rm's --preserve-root
            ok = false;
            continue;
        }
        struct stat st;
        if (::lstat(p.host.c_str(), &st) != 0) {
            ok = ok && force;
            continue;
        }
        if (S_ISDIR(st.st_mode) && !recursive) {
            ok = false;
            continue;
        }
        if (!(S_ISDIR(st.st_mode) ? removeTree(p.host) : ::unlink(p.host.c_str()) == 0))
            ok = false;
    }
    return ok ? 0 : kFailedStatus;
}

int runCp(const FileContext& ctx, const std::vector<Word>& args, bool& refused)
{
    std::string opts;
    std::vector<Word> words;
    if (!parseOptions(args, "rRfapdv", opts, words))
        return kFailedStatus;
    const bool recursive = hasOption(opts, "rRa");
    const bool preserve = hasOption(opts, "ap");
    const bool linksAsLinks = hasOption(opts, "ad") || recursive;
    std::vector<Operand> paths;
    if (!mapOperands(ctx, words, paths)
        || !std::all_of(paths.begin(), paths.end(), [&](const Operand& p) { return followInside(ctx, p); })) {
        refused = true;
        return kFailedStatus;
    }
    if (paths.size() < 2)
        return kFailedStatus;
    const Operand dst = paths.back();
    paths.pop_back();
    struct stat dstSt;
    const bool dstIsDir = ::stat(dst.host.c_str(), &dstSt) == 0 && S_ISDIR(dstSt.st_mode);
    if (paths.size() > 1 && !dstIsDir)
        return kFailedStatus;

    bool ok = true;
    for (const Operand& src : paths) {
        const bool follow = !linksAsLinks;
        struct stat st;
        if ((follow ? ::stat(src.host.c_str(), &st) : ::lstat(src.host.c_str(), &st)) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode) && !recursive) {
            ok = false;   // cp omits folders without -r
            continue;
        }
        const std::string target = dstIsDir ? childPath(dst.host, hostfs::baseName(src.host)) : dst.host;
        struct stat ts;
        if (::stat(target.c_str(), &ts) == 0 && ts.st_dev == st.st_dev && ts.st_ino == st.st_ino) {
            ok = false;   // the same file
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            std::string srcReal, parentReal;
            if (!hostfs::realPath(src.host, srcReal) || !hostfs::realPath(hostfs::dirName(target), parentReal)
                || hostfs::within(srcReal, childPath(parentReal, hostfs::baseName(target)))) {
                ok = false;   // a folder into itself
                continue;
            }
        }
        if (!copyAny(ctx, src.host, target, follow, preserve))
            ok = false;
    }
    return ok ? 0 : kFailedStatus;
}

int runMv(const FileContext& ctx, const std::vector<Word>& args, bool& refused)
{
    std::string opts;
    std::vector<Word> words;
    if (!parseOptions(args, "fv", opts, words))
        return kFailedStatus;
    std::vector<Operand> paths;
    if (!mapOperands(ctx, words, paths)) {
        refused = true;
        return kFailedStatus;
    }
    for (size_t i = 0; i < paths.size(); ++i) {
        const bool inside = i + 1 == paths.size() ? followInside(ctx, paths[i]) : parentInside(ctx, paths[i]);
        if (!inside) {
            refused = true;
            return kFailedStatus;
        }
    }
    if (paths.size() < 2)
        return kFailedStatus;
    const Operand dst = paths.back();
    paths.pop_back();
    struct stat dstSt;
    const bool dstIsDir = ::stat(dst.host.c_str(), &dstSt) == 0 && S_ISDIR(dstSt.st_mode);
    if (paths.size() > 1 && !dstIsDir)
        return kFailedStatus;
    bool ok = true;
    for (const Operand& src : paths) {
        struct stat st;
        if (src.sys == "/" || ::lstat(src.host.c_str(), &st) != 0) {
            ok = false;
            continue;
        }
        const std::string target = dstIsDir ? childPath(dst.host, hostfs::baseName(src.host)) : dst.host;
        if (::rename(src.host.c_str(), target.c_str()) == 0)
            continue;
        if (errno == EXDEV && copyAny(ctx, src.host, target, false, true) && removeTree(src.host))
            continue;
        ok = false;
    }
    return ok ? 0 : kFailedStatus;
}

// The new mode for "755" or a symbolic "u+x,go-w"; false for a mode that
// is not understood.
bool applyMode(const std::string& modeText, mode_t old, bool isDir, mode_t& out)
{
    if (modeText.empty())
        return false;
    if (modeText.find_first_not_of("01234567") == std::string::npos) {
        if (modeText.size() > 4)
            return false;
        out = static_cast<mode_t>(std::strtoul(modeText.c_str(), nullptr, 8));
        return true;
    }
    mode_t m = old & 07777;
    size_t i = 0;
    while (i <= modeText.size()) {
        mode_t who = 0;
        while (i < modeText.size() && std::string("ugoa").find(modeText[i]) != std::string::npos) {
            switch (modeText[i]) {
            case 'u': who |= 04700; break;
            case 'g': who |= 02070; break;
            case 'o': who |= 01007; break;
            default: who |= 07777; break;
            }
            ++i;
        }
        if (who == 0)
            who = 07777;
        if (i >= modeText.size() || std::string("+-=").find(modeText[i]) == std::string::npos)
            return false;
        while (i < modeText.size() && std::string("+-=").find(modeText[i]) != std::string::npos) {
            const char op = modeText[i++];
            mode_t perms = 0;
            while (i < modeText.size() && std::string("rwxXst").find(modeText[i]) != std::string::npos) {
                switch (modeText[i]) {
                case 'r': perms |= 0444; break;
                case 'w': perms |= 0222; break;
                case 'x': perms |= 0111; break;
                case 'X':
                    if (isDir || (old & 0111))
                        perms |= 0111;
                    break;
                case 's': perms |= 06000; break;
                default: perms |= 01000; break;
                }
                ++i;
            }
            const mode_t bits = perms & who;
            if (op == '+')
                m |= bits;
            else if (op == '-')
                m &= ~bits;
            else
                m = (m & ~who) | bits;
        }
        if (i == modeText.size())
            break;
        if (modeText[i] != ',')
            return false;
        ++i;
    }
    out = m;
    return true;
}

bool chmodTree(const std::string& path, const std::string& modeText, bool recursive)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    mode_t mode;
    if (!applyMode(modeText, st.st_mode, S_ISDIR(st.st_mode), mode) || ::chmod(path.c_str(), mode) != 0)
        return false;
    if (!recursive || !S_ISDIR(st.st_mode))
        return true;
    std::vector<std::string> names;
    bool ok = listFolder(path, names);
    for (const auto& n : names) {
        const std::string child = path + "/" + n;
        struct stat cs;
        if (::lstat(child.c_str(), &cs) != 0 || S_ISLNK(cs.st_mode))
            continue;   // chmod -R leaves links alone
        ok = chmodTree(child, modeText, true) && ok;
    }
    return ok;
}

int runChmod(const FileContext& ctx, const std::vector<Word>& args, bool& refused)
{
    // As the device's chmod: the options (-R, -f, -v) may stand anywhere
    // before "--", the first other word is the mode, the rest the paths.
    bool recursive = false;
    bool optionsEnd = false;
    std::vector<Word> rest;
    for (const Word& w : args) {
        const std::string& t = w.text;
        if (!optionsEnd && !w.quoted && t == "--") {
            optionsEnd = true;
            continue;
        }
        if (!optionsEnd && !w.quoted && t.size() > 1 && t[0] == '-' &&
            t.find_first_not_of("Rfv", 1) == std::string::npos) {
            recursive = recursive || t.find('R') != std::string::npos;
            continue;
        }
        rest.push_back(w);
    }
    if (rest.empty())
        return kFailedStatus;
    const std::string modeText = rest.front().text;
    std::vector<Operand> paths;
    const std::vector<Word> words(rest.begin() + 1, rest.end());
    if (!mapOperands(ctx, words, paths)
        || !std::all_of(paths.begin(), paths.end(), [&](const Operand& p) { return followInside(ctx, p); })) {
        refused = true;
        return kFailedStatus;
    }
    mode_t probe;
    if (paths.empty() || !applyMode(modeText, 0, false, probe))
        return kFailedStatus;
    bool ok = true;
    for (const Operand& p : paths)
        ok = chmodTree(p.host, modeText, recursive) && ok;
    return ok ? 0 : kFailedStatus;
}

int runChattr(const FileContext& ctx, const std::vector<Word>& args, bool& refused)
{
    // The options (-R, -V, -f, also together) may stand anywhere before
    // "--"; the first other word is the attribute change ("-S" removes an
    // attribute), the rest the files.
    bool optionsEnd = false;
    std::vector<Word> rest;
    for (const Word& w : args) {
        const std::string& t = w.text;
        if (!optionsEnd && !w.quoted && t == "--") {
            optionsEnd = true;
            continue;
        }
        if (!optionsEnd && !w.quoted && t.size() > 1 && t[0] == '-' &&
            t.find_first_not_of("RVf", 1) == std::string::npos) {
            continue;
        }
        rest.push_back(w);
    }
    if (rest.empty())
        return kFailedStatus;
    const std::string attrs = rest.front().text;
    if (attrs.size() < 2 || std::string("+-=").find(attrs[0]) == std::string::npos
        || attrs.find_first_not_of("aAcCdDeFijmPsStTux", 1) != std::string::npos)
        return kFailedStatus;
    std::vector<Operand> paths;
    const std::vector<Word> words(rest.begin() + 1, rest.end());
    if (!mapOperands(ctx, words, paths)
        || !std::all_of(paths.begin(), paths.end(), [&](const Operand& p) { return followInside(ctx, p); })) {
        refused = true;
        return kFailedStatus;
    }
    if (paths.empty())
        return kFailedStatus;
    // The attributes have no effect on the simulated board; the command
    // succeeds where the real one would find its files.
    bool ok = true;
    for (const Operand& p : paths) {
        struct stat st;
        ok = ::stat(p.host.c_str(), &st) == 0 && ok;
    }
    return ok ? 0 : kFailedStatus;
}

} // namespace

ShellModel::ShellModel(std::string logPath) : logPath_(std::move(logPath)) {}

const char* ShellModel::kindName(Kind kind)
{
    switch (kind) {
    case Kind::File: return "file";
    case Kind::Recorded: return "recorded";
    default: return "refused";
    }
}

std::string ShellModel::logLine(const Entry& entry)
{
    std::string command;
    for (char c : entry.command) {
        if (c == '\n')
            command += "\\n";
        else if (c == '\r')
            command += "\\r";
        else
            command += c;
    }
    return std::string(kindName(entry.kind)) + "\t" + std::to_string(entry.status) + "\t" + command;
}

int ShellModel::run(const std::string& command, std::string* output)
{
    if (output)
        output->clear();
    const std::string cmd = trim(command);
    std::vector<std::string> list;
    if (splitList(cmd, list))
        return runList(command, list, output);
    std::vector<Word> words;
    bool background = false;
    bool ok = !cmd.empty() && cmd.find_first_of(";|`<$\\\n\r") == std::string::npos
        && cmd.find("&&") == std::string::npos && splitCommand(cmd, words);
    if (ok) {
        stripTrailing(words, background);
        ok = !words.empty() && std::none_of(words.begin(), words.end(), hasShellSyntax);
    }
    if (!ok) {
        log(Kind::Refused, kRefusedStatus, command);
        return kRefusedStatus;
    }

    const std::string& name = words[0].text;
    if (!words[0].quoted && fileCommands().count(name)) {
        bool refused = false;
        int status = runFileCommand(words, refused);
        if (background && !refused)
            status = 0;
        log(refused ? Kind::Refused : Kind::File, status, command);
        return status;
    }

    if (!words[0].quoted && recordedCommands().count(name)) {
        std::string text;
        const int code = recordedExitCode(words, text);
        const int status = background ? 0 : code << 8;
        if (output)
            *output = text;
        log(Kind::Recorded, status, command);
        if (name == "reboot" && code == 0)
            platform::requestReboot();
        return status;
    }

    log(Kind::Refused, kRefusedStatus, command);
    return kRefusedStatus;
}

int ShellModel::recordedExitCode(const std::vector<Word>& words, std::string& output) const
{
    const std::string joined = joinWords(words);
    int code = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (const int* c = lookup(exitCodes_, joined))
        code = *c;
    if (!ethernetPresent_ && isEth0Command(words))
        code = 1;
    if (const std::string* o = lookup(outputs_, joined))
        output = *o;
    return code;
}

int ShellModel::runList(const std::string& command, const std::vector<std::string>& list, std::string* output)
{
    std::vector<std::vector<Word>> commands(list.size());
    for (size_t k = 0; k < list.size(); ++k) {
        if (!listedMachineCommand(list[k], commands[k])) {
            log(Kind::Refused, kRefusedStatus, command);
            return kRefusedStatus;
        }
    }
    // Each runs in turn; the list's status is its last command's.
    int code = 0;
    bool reboot = false;
    for (const std::vector<Word>& words : commands) {
        std::string text;
        code = recordedExitCode(words, text);
        if (output)
            *output += text;
        reboot = reboot || (words[0].text == "reboot" && code == 0);
    }
    log(Kind::Recorded, code << 8, command);
    if (reboot)
        platform::requestReboot();
    return code << 8;
}

int ShellModel::runFileCommand(const std::vector<Word>& words, bool& refused)
{
    refused = false;
    const std::string& name = words[0].text;
    if (name == "sync")
        return 0;
    if (!boardRootUsable()) {
        refused = true;   // never the machine's own files
        return kFailedStatus;
    }
    FileContext ctx;
    ctx.rootHost = platform::boardRoot();
    if (!hostfs::realPath(ctx.rootHost, ctx.rootReal))
        return kFailedStatus;
    const std::vector<Word> args(words.begin() + 1, words.end());
    if (name == "rm")
        return runRm(ctx, args, refused);
    if (name == "cp")
        return runCp(ctx, args, refused);
    if (name == "mv")
        return runMv(ctx, args, refused);
    if (name == "chmod")
        return runChmod(ctx, args, refused);
    if (name == "chattr")
        return runChattr(ctx, args, refused);
    refused = true;
    return kRefusedStatus;
}

template <typename T>
const T* ShellModel::lookup(const std::map<std::string, T>& table, const std::string& command) const
{
    const T* best = nullptr;
    size_t bestLength = 0;
    for (const auto& kv : table) {
        if (command.compare(0, kv.first.size(), kv.first) == 0 && (!best || kv.first.size() >= bestLength)) {
            best = &kv.second;
            bestLength = kv.first.size();
        }
    }
    return best;
}

void ShellModel::setExitCode(const std::string& commandPrefix, int exitCode)
{
    std::lock_guard<std::mutex> lock(mutex_);
    exitCodes_[commandPrefix] = exitCode & 0xFF;
}

void ShellModel::setOutput(const std::string& commandPrefix, const std::string& output)
{
    std::lock_guard<std::mutex> lock(mutex_);
    outputs_[commandPrefix] = output;
}

void ShellModel::setEthernetPresent(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ethernetPresent_ = present;
}

std::vector<ShellModel::Entry> ShellModel::entries() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<Entry>(entries_.begin(), entries_.end());
}

std::vector<std::string> ShellModel::commands() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_)
        out.push_back(e.command);
    return out;
}

void ShellModel::clearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    if (!logPath_.empty()) {
        std::ofstream out(logPath_, std::ios::trunc);
    }
}

void ShellModel::log(Kind kind, int status, const std::string& command)
{
    const Entry entry{kind, status, command};
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
    while (entries_.size() > kLogTail)
        entries_.pop_front();
    if (!logPath_.empty()) {
        std::ofstream out(logPath_, std::ios::app);
        if (out)
            out << logLine(entry) << '\n';
    }
}

} // namespace sim
