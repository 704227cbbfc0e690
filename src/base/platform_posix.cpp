// POSIX implementation of the platform operations, with test hooks.
#if !defined(_WIN32)

#include "base/platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#define JPG_HAVE_GETRANDOM 1
#endif

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using jpg::faults::Op;

constexpr std::size_t kOps = static_cast<std::size_t>(Op::Count);

}  // namespace

// Shared by a call's threads, so every counter is atomic.
struct jpg::faults::Plan {
    std::array<std::atomic<int>, kOps> calls{};
    std::array<std::atomic<int>, kOps> failAt{};
    std::array<std::atomic<int>, kOps> failTimes{};
    std::atomic<bool> fired{false};
    std::atomic<int> heldBlocks{0};
    std::atomic<int> heldFiles{0};
};

namespace {

thread_local jpg::faults::Plan ownPlan;
thread_local jpg::faults::Plan *adopted = nullptr;

jpg::faults::Plan &plan() { return adopted != nullptr ? *adopted : ownPlan; }

using jpg::faults::shouldFail;

HFILE track(int fd) {
    if (fd < 0) return HFILE_ERROR;
    ++plan().heldFiles;
    return fd;
}

void *allocate(SIZE_T bytes) {
    if (shouldFail(Op::Alloc)) return nullptr;
    void *block = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (block == nullptr) return nullptr;
    ++plan().heldBlocks;
    jpg::preferLargePages(block, bytes);
    return block;
}

void *release(void *block) {
    if (block == nullptr) return nullptr;
    std::free(block);
    --plan().heldBlocks;
    return nullptr;
}

}  // namespace

HFILE _lopen(LPCSTR path, int mode) {
    if (shouldFail(Op::Open) || path == nullptr) return HFILE_ERROR;
    const int flags = (mode & 3) == OF_READWRITE ? O_RDWR : (mode & 3) == OF_WRITE ? O_WRONLY : O_RDONLY;
    return track(::open(path, flags | O_CLOEXEC));
}

HFILE _lcreat(LPCSTR path, int /*attribute*/) {
    if (shouldFail(Op::Create) || path == nullptr) return HFILE_ERROR;
    return track(::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

UINT _lread(HFILE file, LPVOID buffer, UINT count) {
    if (shouldFail(Op::Read) || file < 0) return HFILE_ERROR_COUNT;
    auto *out = static_cast<char *>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t n = ::read(file, out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done == 0 ? HFILE_ERROR_COUNT : done;
        if (n == 0) break;
        done += static_cast<UINT>(n);
    }
    return done;
}

UINT _lwrite(HFILE file, LPCCH buffer, UINT count) {
    if (shouldFail(Op::Write) || file < 0) return HFILE_ERROR_COUNT;
    UINT done = 0;
    while (done < count) {
        const ssize_t n = ::write(file, buffer + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return HFILE_ERROR_COUNT;
        done += static_cast<UINT>(n);
    }
    return done;
}

LONG _llseek(HFILE file, LONG offset, int origin) {
    if (shouldFail(Op::Seek) || file < 0) return HFILE_ERROR;
    const int whence = origin == FILE_END ? SEEK_END : origin == FILE_CURRENT ? SEEK_CUR : SEEK_SET;
    const off_t pos = ::lseek(file, offset, whence);
    if (pos < 0 || pos > 0x7FFFFFFF) return HFILE_ERROR;
    return static_cast<LONG>(pos);
}

HFILE _lclose(HFILE file) {
    if (file < 0) return HFILE_ERROR;
    --plan().heldFiles;
    return ::close(file) == 0 ? 0 : HFILE_ERROR;
}

HGLOBAL GlobalAlloc(UINT /*flags*/, SIZE_T bytes) { return allocate(bytes); }
LPVOID GlobalLock(HGLOBAL block) { return block; }
BOOL GlobalUnlock(HGLOBAL /*block*/) { return 0; }
HGLOBAL GlobalFree(HGLOBAL block) { return release(block); }
HLOCAL LocalAlloc(UINT /*flags*/, SIZE_T bytes) { return allocate(bytes); }
LPVOID LocalLock(HLOCAL block) { return block; }
BOOL LocalUnlock(HLOCAL /*block*/) { return 0; }
HLOCAL LocalFree(HLOCAL block) { return release(block); }

int lstrcmpA(LPCSTR a, LPCSTR b) {
    return std::strcmp(a == nullptr ? "" : a, b == nullptr ? "" : b);
}

int MessageBoxA(HWND /*owner*/, LPCSTR text, LPCSTR caption, UINT /*style*/) {
    std::fprintf(stderr, "%s%s%s\n", caption != nullptr ? caption : "", caption != nullptr ? ": " : "",
                 text != nullptr ? text : "");
    std::fflush(stderr);
    return 1;  // IDOK
}

namespace jpg {

HFILE createNewFile(const char *path, bool &taken) {
    taken = false;
    if (shouldFail(Op::Create) || path == nullptr) {
        errno = EIO;
        return HFILE_ERROR;
    }
    if (shouldFail(Op::Clash)) {
        taken = true;
        errno = EEXIST;
        return HFILE_ERROR;
    }
    int fd = -1;
    do {
        fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) taken = errno == EEXIST;
    return track(fd);
}

namespace {

// Reads all `count` bytes from `fd`; false on an error or the end.
bool readAll(int fd, uint8_t *out, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::read(fd, out, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool unguessableBytes(void *out, std::size_t count) {
    auto *bytes = static_cast<uint8_t *>(out);
#if defined(JPG_HAVE_GETRANDOM)
    // The system call first: it needs no file and works in a chroot.
    if (!shouldFail(Op::Random)) {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::getrandom(bytes + done, count - done, GRND_NONBLOCK);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (done == count) return true;
    }
#endif
    if (shouldFail(Op::Random)) return false;
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = readAll(fd, bytes, count);
    ::close(fd);
    return ok;
}

bool setFinalAccess(HFILE file, const char * /*path*/, const char *destination) {
    if (shouldFail(Op::Mode) || destination == nullptr || file < 0) return false;
    struct stat st {};
    const mode_t mode = ::stat(destination, &st) == 0 && S_ISREG(st.st_mode) ? st.st_mode & 0777
                                                                              : 0666 & ~processUmask();
    return ::fchmod(file, mode) == 0;
}

namespace {

// The umask from the kernel's own account of the process (Linux 4.7 on);
// false where there is none.
bool umaskFromProc(uint32_t &mask) {
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[4096];
    std::size_t have = 0;
    for (ssize_t n; have < sizeof text - 1 && (n = ::read(fd, text + have, sizeof text - 1 - have)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        have += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text[have] = '\0';
    const char *line = std::strstr(text, "\nUmask:");
    if (line == nullptr) return false;
    char *end = nullptr;
    const unsigned long value = std::strtoul(line + 7, &end, 8);
    if (end == line + 7 || value > 0777) return false;
    mask = static_cast<uint32_t>(value);
    return true;
}

pthread_mutex_t umaskLock = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

uint32_t processUmask() {
    uint32_t mask = 0;
    if (umaskFromProc(mask)) return mask;
    // Elsewhere the only way to read it is to set it and set it back; the
    // library's own readers at least take turns.
    pthread_mutex_lock(&umaskLock);
    const mode_t old = ::umask(077);
    ::umask(old);
    pthread_mutex_unlock(&umaskLock);
    return static_cast<uint32_t>(old) & 0777;
}

bool isWriteProtected(const char *path) {
    struct stat st {};
    if (path == nullptr || ::lstat(path, &st) != 0 || S_ISLNK(st.st_mode)) return false;
    return ::access(path, W_OK) != 0 && (errno == EACCES || errno == EPERM || errno == EROFS);
}

bool fileSize(HFILE file, uint64_t &size) {
    struct stat st {};
    if (faults::shouldFail(Op::Seek) || file < 0 || ::fstat(file, &st) != 0 || st.st_size < 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool filePosition(HFILE file, uint64_t &position) {
    if (faults::shouldFail(Op::Seek) || file < 0) return false;
    const off_t at = ::lseek(file, 0, SEEK_CUR);
    if (at < 0) return false;
    position = static_cast<uint64_t>(at);
    return true;
}

bool syncFile(HFILE file) {
    if (shouldFail(Op::Write) || file < 0) return false;
    int r;
    do {
        r = ::fsync(file);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool syncDirectoryOf(const char *path) {
    if (path == nullptr) return false;
    std::string directory = path;
    const std::size_t slash = directory.find_last_of('/');
    directory = slash == std::string::npos ? "." : slash == 0 ? "/" : directory.substr(0, slash);
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    // Some file systems cannot sync a directory; the rename stands all the same.
    const bool ok = r == 0 || errno == EINVAL || errno == EROFS;
    ::close(fd);
    return ok;
}

std::string systemErrorText() { return std::strerror(errno); }

std::FILE *fileToStream(HFILE file) {
    if (file < 0) return nullptr;
    std::FILE *stream = ::fdopen(file, "w+b");
    if (stream == nullptr) {
        _lclose(file);
        return nullptr;
    }
    --plan().heldFiles;  // the stream's now
    return stream;
}

bool isSpecialFile(const char *path) {
    struct stat st {};
    return path != nullptr && ::lstat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode);
}

void preferLargePages(void *block, std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t kLargePage = uintptr_t{1} << 21;
    if (block == nullptr || bytes < (uintptr_t{8} << 20)) return;
    const auto at = reinterpret_cast<uintptr_t>(block);
    const uintptr_t from = (at + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t to = (at + bytes) & ~(kLargePage - 1);
    if (to > from) madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

bool isDirectory(const char *path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool replaceFile(const char *fromPath, const char *toPath) {
    return fromPath != nullptr && toPath != nullptr && ::rename(fromPath, toPath) == 0;
}

bool removeFile(const char *path) { return ::unlink(path) == 0; }

bool seekFile(HFILE file, uint64_t offset) {
    if (faults::shouldFail(Op::Seek) || file < 0) return false;
    const auto position = static_cast<off_t>(offset);
    if (position < 0 || static_cast<uint64_t>(position) != offset) return false;
    return ::lseek(file, position, SEEK_SET) == position;
}

HFILE openStandardStream(int which) {
    if (faults::shouldFail(Op::Open) || (which != 0 && which != 1)) return HFILE_ERROR;
    return track(::fcntl(which, F_DUPFD_CLOEXEC, 0));
}

std::string temporaryDirectory() {
    const char *dir = std::getenv("TMPDIR");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

bool sameFile(const char *a, const char *b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace jpg

namespace jpg::faults {

bool shouldFail(Op op) {
    const auto i = static_cast<std::size_t>(op);
    Plan &p = plan();
    const int call = ++p.calls[i];
    const int at = p.failAt[i];
    if (at != 0 && call >= at && call - at < p.failTimes[i]) {
        p.fired = true;
        return true;
    }
    return false;
}

void failNth(Op op, int n, int times) {
    const auto i = static_cast<std::size_t>(op);
    Plan &p = plan();
    p.failTimes[i] = times < 1 ? 1 : times;
    p.failAt[i] = n < 0 ? 0 : n;
}

void reset() {
    Plan &p = plan();
    for (auto &c : p.calls) c = 0;
    for (auto &f : p.failAt) f = 0;
    for (auto &t : p.failTimes) t = 0;
    p.fired = false;
}

int calls(Op op) { return plan().calls[static_cast<std::size_t>(op)]; }
bool fired() { return plan().fired; }
int heldBlocks() { return plan().heldBlocks; }
int heldFiles() { return plan().heldFiles; }

Plan *currentPlan() { return &plan(); }
void adoptPlan(Plan *p) { adopted = p; }

}  // namespace jpg::faults

#endif  // !_WIN32
