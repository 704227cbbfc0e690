// Windows side of the platform layer: the _l*, Global*, Local* and user
// functions are the system's own; only the file helpers live here, and the
// test hooks do nothing.
#if defined(_WIN32)

#include "base/platform.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <string>

namespace jpg {

namespace {

// The few security functions of ADVAPI32, looked up when first needed, so
// that JPG.dll keeps importing nothing beyond KERNEL32, USER32, GDI32 and
// msvcrt. Any of them may be missing (an old or emulated system): then new
// files take their directory's default security, as they did before.
struct SecurityFunctions {
    BOOL(WINAPI *openProcessToken)(HANDLE, DWORD, PHANDLE) = nullptr;
    BOOL(WINAPI *getTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD) = nullptr;
    BOOL(WINAPI *initializeAcl)(PACL, DWORD, DWORD) = nullptr;
    BOOL(WINAPI *addAccessAllowedAce)(PACL, DWORD, DWORD, PSID) = nullptr;
    DWORD(WINAPI *getLengthSid)(PSID) = nullptr;
    BOOL(WINAPI *initializeSecurityDescriptor)(PSECURITY_DESCRIPTOR, DWORD) = nullptr;
    BOOL(WINAPI *setSecurityDescriptorDacl)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL) = nullptr;
    BOOL(WINAPI *setSecurityDescriptorControl)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                               SECURITY_DESCRIPTOR_CONTROL) = nullptr;
    // SetNamedSecurityInfoA (aclapi.h); its object type is SE_FILE_OBJECT, 1.
    DWORD(WINAPI *setNamedSecurityInfo)(LPSTR, int, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) = nullptr;
    bool complete = false;
};

template <typename F>
void lookUp(HMODULE module, const char *name, F &function) {
    function = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

const SecurityFunctions &securityFunctions() {
    static const SecurityFunctions functions = [] {
        SecurityFunctions f;
        const HMODULE advapi = LoadLibraryA("advapi32.dll");  // kept loaded: the process has it anyway
        if (advapi == nullptr) return f;
        lookUp(advapi, "OpenProcessToken", f.openProcessToken);
        lookUp(advapi, "GetTokenInformation", f.getTokenInformation);
        lookUp(advapi, "InitializeAcl", f.initializeAcl);
        lookUp(advapi, "AddAccessAllowedAce", f.addAccessAllowedAce);
        lookUp(advapi, "GetLengthSid", f.getLengthSid);
        lookUp(advapi, "InitializeSecurityDescriptor", f.initializeSecurityDescriptor);
        lookUp(advapi, "SetSecurityDescriptorDacl", f.setSecurityDescriptorDacl);
        lookUp(advapi, "SetSecurityDescriptorControl", f.setSecurityDescriptorControl);
        lookUp(advapi, "SetNamedSecurityInfoA", f.setNamedSecurityInfo);
        f.complete = f.openProcessToken && f.getTokenInformation && f.initializeAcl && f.addAccessAllowedAce &&
                     f.getLengthSid && f.initializeSecurityDescriptor && f.setSecurityDescriptorDacl &&
                     f.setSecurityDescriptorControl && f.setNamedSecurityInfo;
        return f;
    }();
    return functions;
}

// A security descriptor whose access list grants the user the process runs
// as, alone, full access, and inherits nothing from the directory.
struct OwnerOnlySecurity {
    alignas(8) uint8_t user[256];
    alignas(8) uint8_t acl[512];
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;

    bool make() {
        const SecurityFunctions &f = securityFunctions();
        if (!f.complete) return false;
        HANDLE token = nullptr;
        if (!f.openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
        DWORD size = 0;
        const BOOL got = f.getTokenInformation(token, TokenUser, user, sizeof user, &size);
        CloseHandle(token);
        if (!got) return false;
        PSID sid = reinterpret_cast<TOKEN_USER *>(user)->User.Sid;
        const DWORD aclBytes = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + f.getLengthSid(sid);
        if (aclBytes > sizeof acl) return false;
        auto *list = reinterpret_cast<PACL>(acl);
        if (!f.initializeAcl(list, aclBytes, ACL_REVISION) ||
            !f.addAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
            !f.initializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !f.setSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) ||
            !f.setSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
            return false;
        attributes = {sizeof attributes, &descriptor, FALSE};
        return true;
    }
};

// Errors that another process holding the file for a moment gives (a virus
// scanner, an indexer, a reader): worth a few more tries.
bool passing(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

// Runs `attempt` until it succeeds, or fails for good, or 10 tries 50 ms
// apart have failed for passing reasons.
template <typename Attempt>
bool retried(Attempt attempt) {
    for (int tries = 1;; ++tries) {
        if (attempt()) return true;
        const DWORD error = GetLastError();
        if (tries == 10 || !passing(error)) {
            SetLastError(error);
            return false;
        }
        Sleep(50);
    }
}

}  // namespace

HFILE createNewFile(const char *path, bool &taken) {
    taken = false;
    if (path == nullptr) return HFILE_ERROR;
    OwnerOnlySecurity security;
    const bool ownerOnly = security.make();
    // The sharing of _lcreat; CREATE_NEW fails on any existing name.
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           ownerOnly ? &security.attributes : nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Access is denied also to a name whose deletion is still pending:
        // another name may do.
        taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
        SetLastError(error);
        return HFILE_ERROR;
    }
    // A 32-bit file handle is the kernel handle, as _lcreat returns it.
    return static_cast<HFILE>(reinterpret_cast<INT_PTR>(h));
}

bool setFinalAccess(HFILE /*file*/, const char *path, const char * /*destination*/) {
    // Windows files carry access lists, which a new file inherits from its
    // directory: an empty list that inherits gets exactly those entries.
    const SecurityFunctions &f = securityFunctions();
    if (!f.complete || path == nullptr) return false;
    alignas(8) uint8_t empty[sizeof(ACL)];
    auto *list = reinterpret_cast<PACL>(empty);
    if (!f.initializeAcl(list, sizeof empty, ACL_REVISION)) return false;
    constexpr int kFileObject = 1;  // SE_FILE_OBJECT
    return f.setNamedSecurityInfo(const_cast<LPSTR>(path), kFileObject,
                                  DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, list, nullptr) == ERROR_SUCCESS;
}

uint32_t processUmask() { return 0; }

bool isWriteProtected(const char *path) {
    const DWORD attributes = path != nullptr ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool fileSize(HFILE file, uint64_t &size) {
    LARGE_INTEGER bytes;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(static_cast<intptr_t>(file)), &bytes) || bytes.QuadPart < 0)
        return false;
    size = static_cast<uint64_t>(bytes.QuadPart);
    return true;
}

bool filePosition(HFILE file, uint64_t &position) {
    LARGE_INTEGER zero{}, at{};
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(static_cast<intptr_t>(file)), zero, &at, FILE_CURRENT) ||
        at.QuadPart < 0)
        return false;
    position = static_cast<uint64_t>(at.QuadPart);
    return true;
}

bool syncFile(HFILE file) { return FlushFileBuffers(reinterpret_cast<HANDLE>(static_cast<intptr_t>(file))) != 0; }

// MoveFileEx with MOVEFILE_WRITE_THROUGH returns once the move is on the disk.
bool syncDirectoryOf(const char * /*path*/) { return true; }

void preferLargePages(void * /*block*/, std::size_t /*bytes*/) {}

std::string systemErrorText() { return "Windows error " + std::to_string(GetLastError()); }

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

bool isDirectory(const char *path) { return isSpecialFile(path); }

bool replaceFile(const char *fromPath, const char *toPath) {
    return retried([&] { return MoveFileExA(fromPath, toPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0; });
}

bool removeFile(const char *path) {
    return retried([&] { return DeleteFileA(path) != 0; });
}

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
