// The platform operations the codec uses, by their Windows names.
//
// On Windows these are the real kernel and user functions. Everywhere else the
// library provides its own small implementation with the same names and
// types: files over POSIX descriptors, memory blocks whose handle is their
// address, lstrcmpA and a MessageBoxA that prints one line to standard error.
// The POSIX layer also lets tests make the N-th operation of a kind fail and
// count the blocks and files a call leaves held.
#ifndef JPG_BASE_PLATFORM_H
#define JPG_BASE_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// What _lread and _lwrite return on failure.
constexpr UINT HFILE_ERROR_COUNT = static_cast<UINT>(HFILE_ERROR);
#else

using BOOL = int;
using UINT = unsigned int;
using LONG = int32_t;
using SIZE_T = std::size_t;
using HFILE = int;
using HGLOBAL = void *;
using HLOCAL = void *;
using HWND = void *;
using LPVOID = void *;
using LPCVOID = const void *;
using LPCSTR = const char *;
using LPCCH = const char *;

constexpr HFILE HFILE_ERROR = -1;
constexpr UINT HFILE_ERROR_COUNT = static_cast<UINT>(-1);
constexpr int OF_READ = 0;
constexpr int OF_WRITE = 1;
constexpr int OF_READWRITE = 2;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT LHND = GHND;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int FILE_BEGIN = 0;
constexpr int FILE_CURRENT = 1;
constexpr int FILE_END = 2;

HFILE _lopen(LPCSTR path, int mode);
HFILE _lcreat(LPCSTR path, int attribute);
UINT _lread(HFILE file, LPVOID buffer, UINT count);
UINT _lwrite(HFILE file, LPCCH buffer, UINT count);
LONG _llseek(HFILE file, LONG offset, int origin);
HFILE _lclose(HFILE file);

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
HGLOBAL GlobalFree(HGLOBAL block);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
LPVOID LocalLock(HLOCAL block);
BOOL LocalUnlock(HLOCAL block);
HLOCAL LocalFree(HLOCAL block);

int lstrcmpA(LPCSTR a, LPCSTR b);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

#endif  // _WIN32

namespace jpg {

// File operations beyond the _l* set: output files are written under a
// temporary name beside their destination and moved into place at the end.

// Creates the file `path` for reading and writing only when nothing has that
// name yet: an existing file is never truncated and a link is never
// followed. The new file is its owner's alone (mode 0600; on Windows an
// access list that grants its owner alone), whatever it will hold: a
// finished output gets its final access just before it takes its place. On
// failure `taken` tells whether the name was in use (on Windows also a name
// whose deletion is still pending), so that another name may be tried.
HFILE createNewFile(const char *path, bool &taken);
// Fills `out` with `count` bytes that another process cannot foresee; false
// when no source answered.
bool unguessableBytes(void *out, std::size_t count);
// Gives an open, finished output file (named `path`) the access it keeps
// once it replaces `destination`: the permission bits of the regular file
// that `destination` names (following a link), or 0666 less the umask when
// there is none; on Windows the default security of its directory. False
// when they could not be set: the file then stays its owner's alone.
bool setFinalAccess(HFILE file, const char *path, const char *destination);
// The process's umask, read without changing it (other threads may be
// creating files).
uint32_t processUmask();
// True when `path` names an existing file that the caller may not write, by
// the platform's own answer: access(W_OK) on POSIX (root may write almost
// anything), the read-only attribute on Windows. A link is judged by itself,
// not by its target: it may always be replaced.
bool isWriteProtected(const char *path);
// The size of an open file, and its current position, in 64 bits; false
// when they cannot be had.
bool fileSize(HFILE file, uint64_t &size);
bool filePosition(HFILE file, uint64_t &position);
// Forces an open file's data to the disk; false when that failed.
bool syncFile(HFILE file);
// Forces the directory that holds `path` (its entries, after a rename) to
// the disk; false when that failed (Windows: nothing to do).
bool syncDirectoryOf(const char *path);
// The last system error of this thread in plain words, for messages:
// strerror's text, or "Windows error N".
std::string systemErrorText();
// Hands an open file over to the C library as a stream for reading and
// writing (fclose closes it); null when that failed, and the file is closed.
std::FILE *fileToStream(HFILE file);
// True when something other than a regular file or a link has the name `path`
// (a directory, a device, a pipe, a socket): a finished output never
// replaces such a thing.
bool isSpecialFile(const char *path);
// A hint for a large block (8 MB or more) that its pages are all about to
// be written: Linux backs it with transparent huge pages where they are
// offered on request, one page fault per 2 MB instead of 512. Nothing
// changes but speed (elsewhere nothing happens).
void preferLargePages(void *block, std::size_t bytes);
// True when `path` names a directory (following a link).
bool isDirectory(const char *path);
// Moves a file over another (Windows: retried a few times while another
// process holds the file, as virus scanners and indexers do); false when it
// failed, with the reason in systemErrorText().
bool replaceFile(const char *fromPath, const char *toPath);
bool removeFile(const char *path);
// True when both paths name the same existing file.
bool sameFile(const char *a, const char *b);
// Moves to an absolute position that may lie beyond the 2 GB that _llseek
// reaches; false when it fails.
bool seekFile(HFILE file, uint64_t offset);
// A handle of its own on standard input (0) or standard output (1), in
// binary mode, to be closed with _lclose; HFILE_ERROR when it fails.
HFILE openStandardStream(int which);
// The directory for temporary files: $TMPDIR (Windows: GetTempPath), else /tmp.
std::string temporaryDirectory();

}  // namespace jpg

// Test hooks of the POSIX layer (no effect on Windows, where the real
// functions run). The plan and the counters belong to the call: each thread
// has its own, and a worker thread started by a call (threads.h) adopts its
// caller's, so failures reach the worker and a block made on one thread and
// freed on the other balances. Parallel tests do not disturb each other.
namespace jpg::faults {

// Gdi covers the creation of palettes, device contexts and bitmaps; Thread
// the start of a worker thread. Create covers _lcreat and createNewFile; for
// the new-file creation, Clash makes it find its name taken. Random is one
// source of randomness (the system call, then the random device), Mode the
// final access of an output file.
enum class Op { Alloc, Open, Create, Read, Write, Seek, Gdi, Thread, Random, Clash, Mode, Count };

// Makes the n-th call (1-based, counted from now) of the operation fail, and
// the `times` - 1 calls after it; n = 0 clears it. Allocation failure covers
// GlobalAlloc and LocalAlloc.
void failNth(Op op, int n, int times = 1);
// Clears every planned failure and the call counters.
void reset();
// Calls of the operation since the last reset.
int calls(Op op);
// True once a planned failure has been delivered since the last reset.
bool fired();

// Counts one call of the operation; true when it is planned to fail. For the
// platform layer's own operations (the GDI subset uses it).
bool shouldFail(Op op);

// Blocks (global and local) and files currently held by this thread's plan.
int heldBlocks();
int heldFiles();

// The plan in force on this thread, and the adoption of another thread's
// plan by a worker (null returns to the thread's own). The adopted plan must
// outlive the worker's use of it: the caller joins its workers first.
struct Plan;
Plan *currentPlan();
void adoptPlan(Plan *plan);

}  // namespace jpg::faults

#endif  // JPG_BASE_PLATFORM_H
