#include "frame/conventions.h"

#include <atomic>

namespace jpg {

uint16_t roundUp(uint16_t value, uint16_t multiple) {
    const auto t = static_cast<uint16_t>(value + multiple - 1);
    return static_cast<uint16_t>(t - t % multiple);
}

bool checkedProduct(std::initializer_list<uint64_t> factors, uint32_t &out) {
    uint64_t product = 1;
    for (const uint64_t f : factors) {
        if (f != 0 && product > kMaxBlockBytes / f) return false;
        product *= f;
    }
    if (product > kMaxBlockBytes) return false;
    out = static_cast<uint32_t>(product);
    return true;
}

bool OutputFile::create(const char *destination) {
    abandon();
    if (destination == nullptr || *destination == '\0') return false;
    static std::atomic<unsigned> serial{0};
    destination_ = destination;
    temporary_ = destination_ + ".part" + std::to_string(serial.fetch_add(1));
    const HFILE file = _lcreat(temporary_.c_str(), 0);
    if (file == HFILE_ERROR) {
        temporary_.clear();
        return false;
    }
    file_.adopt(file);
    return true;
}

bool OutputFile::commit() {
    if (temporary_.empty() || !file_.isOpen()) return false;
    if (!file_.close() || !replaceFile(temporary_.c_str(), destination_.c_str())) {
        abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::abandon() {
    file_.close();
    if (!temporary_.empty()) removeFile(temporary_.c_str());
    temporary_.clear();
}

}  // namespace jpg
