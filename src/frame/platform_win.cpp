// Windows side of the platform layer: the _l*, Global*, Local* and user
// functions are the system's own; only the file helpers live here, and the
// test hooks do nothing.
#if defined(_WIN32)

#include "frame/platform.h"

namespace jpg {

bool replaceFile(const char *fromPath, const char *toPath) {
    return MoveFileExA(fromPath, toPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(const char *path) { return DeleteFileA(path) != 0; }

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

void failNth(Op, int) {}
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
