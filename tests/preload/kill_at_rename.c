/* A power cut for the end-to-end tests: preloaded into the program, it
 * ends the process with SIGKILL just before the Nth rename onto a file of
 * the given names (or just after it), as if the power failed there.
 *   ZDR_KILL_RENAME_NAMES  comma-separated base names (e.g. tcpip.ini)
 *   ZDR_KILL_RENAME_AT     N, counted from 1 over the renames onto them
 *   ZDR_KILL_RENAME_AFTER  1: the cut comes once the Nth rename is made
 *   ZDR_KILL_RENAME_LOG    a file that gets the base name of each rename
 *                          onto them, one a line, before it is made (how
 *                          many a write makes, and in what order)
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int matches(const char* path)
{
    const char* names = getenv("ZDR_KILL_RENAME_NAMES");
    if (!names || !path)
        return 0;
    const char* slash = strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    const size_t len = strlen(base);
    const char* p = names;
    for (;;) {
        const char* comma = strchr(p, ',');
        const size_t n = comma ? (size_t)(comma - p) : strlen(p);
        if (n == len && strncmp(p, base, n) == 0)
            return 1;
        if (!comma)
            return 0;
        p = comma + 1;
    }
}

static int renames = 0;

static void logRename(const char* path)
{
    const char* log = getenv("ZDR_KILL_RENAME_LOG");
    if (!log || !*log)
        return;
    const char* slash = strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    char line[256];
    size_t n = strlen(base);
    if (n > sizeof(line) - 1)
        n = sizeof(line) - 1;
    memcpy(line, base, n);
    line[n++] = '\n';
    const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    /* One write of the whole line: lines of two threads never mix. */
    if (write(fd, line, n) < 0) {
    }
    close(fd);
}

int rename(const char* from, const char* to)
{
    static int (*real)(const char*, const char*) = 0;
    if (!real)
        real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    if (matches(to)) {
        const char* at = getenv("ZDR_KILL_RENAME_AT");
        const int n = __atomic_add_fetch(&renames, 1, __ATOMIC_SEQ_CST);
        logRename(to);
        if (at && n == atoi(at)) {
            const char* after = getenv("ZDR_KILL_RENAME_AFTER");
            if (after && strcmp(after, "1") == 0)
                real(from, to);
            kill(getpid(), SIGKILL);
        }
    }
    return real(from, to);
}
