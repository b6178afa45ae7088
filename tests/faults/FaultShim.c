/* A failing disk, a flaky network share and a sync tool at the worst moment, for a program run under
 * LD_PRELOAD. It fails the Nth call of one system call, counting only calls on files the program opened
 * itself (descriptor 3 and up) for the calls that take one:
 *
 *   TESSELBY_FAULT_CALL    write, fsync, fdatasync, close, rename, renameat, ftruncate or unlink
 *   TESSELBY_FAULT_FILE    only calls on a file whose path ends so (its descriptor's or the first path given)
 *   TESSELBY_FAULT_NTH     which call of it, from 1 (default 1)
 *   TESSELBY_FAULT_ERROR   EIO or ENOSPC: the error that call reports (none: the call is not failed);
 *                          KILL: the program is killed there, as by a power cut
 *   TESSELBY_FAULT_AFTER   1: the call is made first and the error reported after it, as NFS can
 *   TESSELBY_FAULT_RENAME  "FROM:TO": just before that call, renames FROM onto TO, as a sync tool
 *                          delivering a new version of a file does
 *   TESSELBY_FAULT_LOG     a file that gets one line per counted call, to find the N wanted
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static long callsSeen;

typedef void (*AnyCall)(void);

/* The system's own function of that name; copied, since ISO C has no cast from data to function pointer. */
static AnyCall realCall(const char* name)
{
    void* found = dlsym(RTLD_NEXT, name);
    AnyCall call;
    memcpy(&call, &found, sizeof call);
    return call;
}

#define REAL(name, type) ((type)realCall(name))

/* What the faulted call does: 0 go on as usual, 1 fail without making it, 2 make it and then fail. */
/* Whether the file, given by descriptor or path, is the one TESSELBY_FAULT_FILE names. */
static int isFaultedFile(int fd, const char* path)
{
    const char* suffix = getenv("TESSELBY_FAULT_FILE");
    if (suffix == NULL)
        return 1;
    char name[4096];
    if (path == NULL) {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t length = readlink(link, name, sizeof name - 1);
        if (length < 0)
            return 0;
        name[length] = '\0';
        path = name;
    }
    const size_t pathLength = strlen(path);
    const size_t suffixLength = strlen(suffix);
    return pathLength >= suffixLength && strcmp(path + pathLength - suffixLength, suffix) == 0;
}

static int faultFor(const char* call, int fd, const char* path)
{
    const char* wanted = getenv("TESSELBY_FAULT_CALL");
    const char* log = getenv("TESSELBY_FAULT_LOG");
    if (log != NULL) {
        int (*realOpen)(const char*, int, ...) = REAL("open", int (*)(const char*, int, ...));
        ssize_t (*realWrite)(int, const void*, size_t) = REAL("write", ssize_t(*)(int, const void*, size_t));
        int (*realClose)(int) = REAL("close", int (*)(int));
        const int fd = realOpen(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            char line[64];
            const int length = snprintf(line, sizeof line, "%s\n", call);
            if (length > 0)
                (void)realWrite(fd, line, (size_t)length);
            realClose(fd);
        }
    }
    if (wanted == NULL || strcmp(wanted, call) != 0 || !isFaultedFile(fd, path))
        return 0;
    const char* nth = getenv("TESSELBY_FAULT_NTH");
    if (++callsSeen != (nth != NULL ? atol(nth) : 1))
        return 0;
    const char* rename = getenv("TESSELBY_FAULT_RENAME");
    if (rename != NULL) {
        char from[4096];
        const char* colon = strchr(rename, ':');
        if (colon != NULL && (size_t)(colon - rename) < sizeof from) {
            memcpy(from, rename, (size_t)(colon - rename));
            from[colon - rename] = '\0';
            int (*realRename)(const char*, const char*) = REAL("rename", int (*)(const char*, const char*));
            (void)realRename(from, colon + 1);
        }
    }
    const char* error = getenv("TESSELBY_FAULT_ERROR");
    if (error == NULL)
        return 0;
    const char* after = getenv("TESSELBY_FAULT_AFTER");
    return after != NULL && strcmp(after, "1") == 0 ? 2 : 1;
}

/* The error to report; or, for KILL, no return. */
static int faultError(void)
{
    const char* kill = getenv("TESSELBY_FAULT_ERROR");
    if (kill != NULL && strcmp(kill, "KILL") == 0)
        raise(SIGKILL);
    const char* error = getenv("TESSELBY_FAULT_ERROR");
    return error != NULL && strcmp(error, "ENOSPC") == 0 ? ENOSPC : EIO;
}

/* For a call on descriptor fd, named call, made by run: the fault's outcome or the call's own. */
#define FAULTED(fd, path, call, failed, run)                                                                           \
    do {                                                                                                               \
        const int fault = (fd) >= 3 ? faultFor(call, fd, path) : 0;                                                    \
        if (fault == 1) {                                                                                              \
            errno = faultError();                                                                                      \
            return failed;                                                                                             \
        }                                                                                                              \
        __typeof__(run) result = run;                                                                                  \
        if (fault == 2) {                                                                                              \
            errno = faultError();                                                                                      \
            return failed;                                                                                             \
        }                                                                                                              \
        return result;                                                                                                 \
    } while (0)

ssize_t write(int fd, const void* bytes, size_t count)
{
    FAULTED(fd, NULL, "write", -1, REAL("write", ssize_t(*)(int, const void*, size_t))(fd, bytes, count));
}

int fsync(int fd)
{
    FAULTED(fd, NULL, "fsync", -1, REAL("fsync", int (*)(int))(fd));
}

int fdatasync(int fd)
{
    FAULTED(fd, NULL, "fdatasync", -1, REAL("fdatasync", int (*)(int))(fd));
}

int close(int fd)
{
    FAULTED(fd, NULL, "close", -1, REAL("close", int (*)(int))(fd));
}

int ftruncate(int fd, off_t length)
{
    FAULTED(fd, NULL, "ftruncate", -1, REAL("ftruncate", int (*)(int, off_t))(fd, length));
}

int rename(const char* from, const char* to)
{
    FAULTED(3, from, "rename", -1, REAL("rename", int (*)(const char*, const char*))(from, to));
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to)
{
    FAULTED(3, from, "renameat", -1,
            REAL("renameat", int (*)(int, const char*, int, const char*))(fromFolder, from, toFolder, to));
}

int unlink(const char* path)
{
    FAULTED(3, path, "unlink", -1, REAL("unlink", int (*)(const char*))(path));
}
