// Windows side of the platform layer: the _l*, Global*, Local* and user
// functions are the system's own; only the file helpers live here, and the
// test hooks do nothing.
#if defined(_WIN32)

#include "frame/platform.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>

namespace jpg {

HFILE createNewFile(const char *path, bool /*ownerOnly*/, bool &taken) {
    taken = false;
    if (path == nullptr) return HFILE_ERROR;
    // The sharing of _lcreat; CREATE_NEW fails on any existing name.
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return HFILE_ERROR;
    }
    // A 32-bit file handle is the kernel handle, as _lcreat returns it.
    return static_cast<HFILE>(reinterpret_cast<INT_PTR>(h));
}

namespace {

// One step of the SplitMix64 generator: a bijective mix of a 64-bit value.
uint64_t mix(uint64_t &state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

bool unguessableBytes(void *out, std::size_t count) {
    // The process id and a counter keep names apart between processes and
    // calls; the performance counter makes them hard to foresee. The DLL
    // imports nothing beyond the kernel for this.
    static std::atomic<uint32_t> serial{0};
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    uint64_t seed = static_cast<uint64_t>(ticks.QuadPart);
    uint64_t state = (static_cast<uint64_t>(GetCurrentProcessId()) << 32 | serial.fetch_add(1)) ^ mix(seed);
    auto *bytes = static_cast<uint8_t *>(out);
    for (std::size_t i = 0; i < count; i += 8) {
        const uint64_t word = mix(state);
        for (std::size_t k = 0; k < 8 && i + k < count; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
    }
    return true;
}

// Windows files carry access lists, which a new file inherits from its
// directory: there are no permission bits to copy.
bool copyPermissions(const char * /*path*/, HFILE /*file*/) { return true; }

std::FILE *fileToStream(HFILE file) {
    if (file == HFILE_ERROR) return nullptr;
    const int descriptor = _open_osfhandle(static_cast<intptr_t>(file), _O_BINARY | _O_RDWR);
    if (descriptor < 0) {
        _lclose(file);
        return nullptr;
    }
    std::FILE *stream = _fdopen(descriptor, "w+b");
    if (stream == nullptr) _close(descriptor);  // closes the handle too
    return stream;
}

bool isSpecialFile(const char *path) {
    const DWORD attributes = path != nullptr ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool replaceFile(const char *fromPath, const char *toPath) {
    return MoveFileExA(fromPath, toPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(const char *path) { return DeleteFileA(path) != 0; }

bool seekFile(HFILE file, uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (position.QuadPart < 0) return false;
    return SetFilePointerEx(reinterpret_cast<HANDLE>(static_cast<intptr_t>(file)), position, nullptr, FILE_BEGIN) != 0;
}

HFILE openStandardStream(int which) {
    if (which != 0 && which != 1) return HFILE_ERROR;
    HANDLE own = nullptr;
    HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, GetStdHandle(which == 0 ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE), process, &own, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
        return HFILE_ERROR;
    return static_cast<HFILE>(reinterpret_cast<intptr_t>(own));
}

std::string temporaryDirectory() {
    char path[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof path, path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string(".");
}

bool sameFile(const char *a, const char *b) {
    auto identify = [](const char *path, BY_HANDLE_FILE_INFORMATION &info) {
        HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia{};
    BY_HANDLE_FILE_INFORMATION ib{};
    if (!identify(a, ia) || !identify(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace jpg

namespace jpg::faults {

void failNth(Op, int, int) {}
void reset() {}
int calls(Op) { return 0; }
bool fired() { return false; }
bool shouldFail(Op) { return false; }
int heldBlocks() { return 0; }
int heldFiles() { return 0; }
Plan *currentPlan() { return nullptr; }
void adoptPlan(Plan *) {}

}  // namespace jpg::faults

#endif  // _WIN32
