#include "temporary_files.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <initializer_list>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace jpgtool {

namespace {

// A fixed table, since a signal handler may neither allocate nor lock: each
// place is free, being filled or emptied by the thread that owns the file,
// or listed. A batch has one output in the making per processor, so a full
// table (a file then goes unlisted) would take far more than any machine's.
constexpr int kPlaces = 128;
constexpr std::size_t kPathBytes = 4096;
enum : int { kFree = 0, kBusy = 1, kListed = 2 };

// Every member initialised, so that the table is constant-initialised (all
// zero, in no page until used): a constructor that left `path` alone would
// run at start-up and touch each of its 128 pages.
struct Place {
    std::atomic<int> state{kFree};
    char path[kPathBytes] = {};
};

Place places[kPlaces];

static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the states");

#if !defined(_WIN32)
// Set once a handler has begun: a second signal (as `timeout` sends one to
// the process and one to its group) may reach another thread while the
// files are being removed, and must neither end the process before that is
// done nor remove them twice.
std::atomic<bool> ending{false};

static_assert(std::atomic<bool>::is_always_lock_free, "the handler sets it");

extern "C" void onSignal(int signal) {
    if (ending.exchange(true)) {
        // The thread that came first ends the process when it is done.
        for (;;) ::pause();
    }
    for (Place &place : places)
        if (place.state.load() == kListed) ::unlink(place.path);
    // The signal, raised again, takes its default course when the handler
    // returns (it is blocked until then).
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}
#endif

}  // namespace

void removeTemporaryFilesOnSignal() {
#if !defined(_WIN32)
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction now {};
        if (::sigaction(signal, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigfillset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
#endif
}

void noteTemporaryFile(void * /*context*/, const char *path, int32_t exists) {
    if (path == nullptr || std::strlen(path) >= kPathBytes) return;
    if (exists != 0) {
        for (Place &place : places) {
            int expected = kFree;
            if (!place.state.compare_exchange_strong(expected, kBusy)) continue;
            std::memcpy(place.path, path, std::strlen(path) + 1);
            place.state.store(kListed);
            return;
        }
        return;
    }
    for (Place &place : places) {
        if (place.state.load() != kListed || std::strcmp(place.path, path) != 0) continue;
        int expected = kListed;
        if (place.state.compare_exchange_strong(expected, kBusy)) place.state.store(kFree);
        return;
    }
}

}  // namespace jpgtool
