// What the files of the tool interface share.
#ifndef JPG_TOOL_TOOL_INTERNAL_H
#define JPG_TOOL_TOOL_INTERNAL_H

#include <cstddef>
#include <string>

#include "base/call_options.h"
#include "jpg_tool.h"

namespace jpg::tool {

// Copies `text` into a caller's buffer of `size` bytes, cut to fit and
// NUL-terminated (nothing when the buffer is null or empty).
void giveReason(const std::string &text, char *reason, size_t size);

// The codec's per-call options for a tool's record (null: the defaults).
CallOptions callOptions(const JpgToolOptions *options);

// jpgToolConvert with the codec's options.
int32_t convertFile(const JpgToolConversion *conversion, const CallOptions &options, JpgToolOutcome *outcome);

}  // namespace jpg::tool

#endif  // JPG_TOOL_TOOL_INTERNAL_H
