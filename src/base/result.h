// What internal operations report: a result, and, for a conversion that
// wrote nothing, why in plain words.
#ifndef JPG_BASE_RESULT_H
#define JPG_BASE_RESULT_H

#include <cstdint>
#include <string>
#include <utility>

namespace jpg {

// What an internal operation reports. Only the exports turn these into the
// statuses of the interface; nothing else ever crosses an export.
enum class Result {
    Ok = 0,
    NotFormat,    // the file does not start with the expected signature
    Malformed,    // the file breaks the format's rules
    Unsupported,  // valid, but beyond what the codec handles
    IoError,      // a file could not be opened, created, read or written
    WriteFailed,  // an output could not be written (IoError's case, when the output is known to be at fault)
    NoMemory,     // a block could not be allocated or locked
    Damaged,      // output complete, but the input was damaged (a warning)
    TooLarge,     // the call would need more memory or scans than its limits allow
};

// Why a conversion wrote nothing (or what it warns of), in plain words, and
// whether the output rather than the input is at fault.
struct Refusal {
    std::string reason;
    bool aboutOutput = false;
    void set(std::string text, bool output) {
        reason = std::move(text);
        aboutOutput = output;
    }
};

}  // namespace jpg

#endif  // JPG_BASE_RESULT_H
