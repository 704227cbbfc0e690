// jpgtool import and export: one file, a standard stream, or a batch of
// files converted in parallel into a directory.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "commands.h"
#include "jpg_tool.h"
#include "temporary_files.h"

namespace jpgtool {

namespace {

// A conversion with the strings its record points to.
struct Job {
    std::string input, output;
    JpgToolConversion conversion{};
};

// The last component of a path without its extension.
std::string stemOf(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

std::string joinPath(const std::string &dir, const std::string &name) {
    if (dir.empty() || dir.back() == '/' || dir.back() == '\\') return dir + name;
    return dir + "/" + name;
}

// What an input of a batch is: a regular file of some size, a directory, or
// something else (a device, a pipe, a socket), or nothing at all.
enum class InputKind { Regular, Directory, Other, Missing };

InputKind inputKind(const std::string &path, uint64_t &bytes) {
    bytes = 0;
#if defined(_WIN32)
    struct _stat64 st {};
    if (_stat64(path.c_str(), &st) != 0) return InputKind::Missing;
    if ((st.st_mode & _S_IFDIR) != 0) return InputKind::Directory;
    if ((st.st_mode & _S_IFREG) == 0) return InputKind::Other;
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return InputKind::Missing;
    if (S_ISDIR(st.st_mode)) return InputKind::Directory;
    if (!S_ISREG(st.st_mode)) return InputKind::Other;
#endif
    bytes = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return InputKind::Regular;
}

// The name under which an output is claimed: as the file system compares
// names (Windows: without regard to case or the kind of slash).
std::string claimKey(const std::string &path) {
#if defined(_WIN32)
    std::string key = path;
    for (char &c : key) c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
#else
    return path;
#endif
}

std::string duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// The progress of a batch on standard error: a bar redrawn in place when
// standard error is a terminal, and the reasons of failures as they come.
struct Progress {
    const std::vector<JpgToolOutcome> *outcomes;
    std::vector<uint64_t> bytes;
    uint64_t totalBytes = 0, doneBytes = 0;
    size_t done = 0, total = 0;
    bool bar = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    void draw() const {
        const int width = 24;
        const int filled = total == 0 ? width : static_cast<int>(width * done / total);
        const double seconds = elapsed();
        const double rate = seconds > 0 ? static_cast<double>(doneBytes) / seconds : 0;
        std::string left = "--:--";
        if (doneBytes > 0 && seconds > 0) left = duration(static_cast<double>(totalBytes - doneBytes) / rate);
        std::fprintf(stderr, "\r[%s%s] %zu/%zu files  %.1f MB/s  %s left ", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), done, total, rate / 1e6, left.c_str());
        std::fflush(stderr);
    }
    void clear() const {
        if (bar) std::fprintf(stderr, "\r%*s\r", 70, "");
    }
    static void step(void *context, size_t index) {
        auto &p = *static_cast<Progress *>(context);
        ++p.done;
        p.doneBytes = p.bytes[index] > UINT64_MAX - p.doneBytes ? UINT64_MAX : p.doneBytes + p.bytes[index];
        const JpgToolOutcome &o = (*p.outcomes)[index];
        if (o.status != 0) {
            p.clear();
            complain(o.file, o.message);
        }
        if (p.bar) p.draw();
    }
};

// Makes the output directory unless it is there.
bool makeDirectory(const std::string &dir) {
#if defined(_WIN32)
    const int made = _mkdir(dir.c_str());
#else
    const int made = mkdir(dir.c_str(), 0777);
#endif
    if (made == 0) return true;
    std::FILE *probe = std::fopen(joinPath(dir, ".").c_str(), "rb");
    if (probe != nullptr) std::fclose(probe);
    return probe != nullptr || errno == EEXIST;
}

int exitStatus(const std::vector<int32_t> &statuses) {
    int status = 0;
    for (const int32_t s : statuses) {
        if (s == 1) return 1;
        if (s == 2) status = 2;
    }
    return status;
}

JpgToolConversion conversionOf(const ConvertOptions &options, bool import) {
    JpgToolConversion c{};
    c.direction = import ? JPG_TOOL_IMPORT : JPG_TOOL_EXPORT;
    c.netpbm = options.format == "pnm" ? 1 : 0;
    c.thumbnailLayout = static_cast<int32_t>(options.layout);
    c.compressionLevel = static_cast<int32_t>(options.level);
    return c;
}

JpgToolOptions toolOptions(const ConvertOptions &options) {
    JpgToolOptions o;
    jpgToolDefaultOptions(&o);
    o.rowOrder = options.topFirst ? JPG_TOOL_ROWS_TOP_FIRST : JPG_TOOL_ROWS_STANDARD;
    o.threads = static_cast<int32_t>(options.threads);
    o.kernels = jpgToolKernelsByName(options.kernels.c_str());
    o.sync = options.sync ? 1 : 0;
    o.temporaryFile = noteTemporaryFile;
    return o;
}

int runBatch(const ConvertOptions &options, bool import) {
    if (options.files.empty()) return usageError("-d OUTDIR needs at least one input file");
    if (!makeDirectory(options.outputDir)) {
        complain(options.outputDir, "the output directory cannot be made");
        return 1;
    }
    // Every input's output name; a second input that would give a name
    // already given is refused.
    std::vector<int32_t> statuses;
    std::vector<Job> jobs;
    std::vector<uint64_t> sizes;
    std::map<std::string, std::string> claimed;
    for (const std::string &input : options.files) {
        uint64_t bytes = 0;
        const InputKind kind = input == JPG_TOOL_STANDARD_STREAM ? InputKind::Other : inputKind(input, bytes);
        std::string ending = ".jpg";
        if (import && kind == InputKind::Regular)
            ending = options.format != "pnm" ? ".bmp" : jpgToolPictureChannels(input.c_str()) == 1 ? ".pgm" : ".ppm";
        const std::string output = joinPath(options.outputDir, stemOf(input) + ending);
        if (input == JPG_TOOL_STANDARD_STREAM) {
            complain(input, "standard input cannot be one file of a batch");
        } else if (kind == InputKind::Directory) {
            complain(input, "is a directory");
        } else if (kind == InputKind::Other) {
            complain(input, "is not a regular file");
        } else if (const auto first = claimed.emplace(claimKey(output), input); !first.second) {
            complain(input, "gives the same output name as " + first.first->second + " (" + output + ")");
        } else {
            jobs.push_back({input, output, conversionOf(options, import)});
            sizes.push_back(bytes);
            continue;
        }
        statuses.push_back(1);
    }
    std::vector<JpgToolConversion> conversions;
    for (Job &job : jobs) {
        job.conversion.input = job.input.c_str();
        job.conversion.output = job.output.c_str();
        conversions.push_back(job.conversion);
    }
    std::vector<JpgToolOutcome> outcomes(jobs.size());
    Progress progress;
    progress.outcomes = &outcomes;
    progress.total = jobs.size();
    progress.bar = isatty(fileno(stderr)) != 0;
    for (const uint64_t bytes : sizes) {
        progress.bytes.push_back(bytes);
        // Sums that could overflow stop at the largest value.
        progress.totalBytes = bytes > UINT64_MAX - progress.totalBytes ? UINT64_MAX : progress.totalBytes + bytes;
    }
    if (progress.bar) progress.draw();
    const JpgToolOptions tool = toolOptions(options);
    jpgToolConvertBatch(conversions.data(), outcomes.data(), conversions.size(), &tool, &Progress::step, &progress);
    progress.clear();

    size_t failed = 0, warned = 0;
    for (const JpgToolOutcome &o : outcomes) statuses.push_back(o.status);
    for (const int32_t s : statuses) {
        failed += s == 1;
        warned += s == 2;
    }
    const double seconds = progress.elapsed();
    std::fprintf(stderr, "jpgtool: %zu of %zu files converted into %s", statuses.size() - failed, statuses.size(),
                 options.outputDir.c_str());
    if (failed != 0) std::fprintf(stderr, ", %zu failed", failed);
    if (warned != 0) std::fprintf(stderr, ", %zu with warnings", warned);
    std::fprintf(stderr, ", in %.1f s (%.1f MB/s)\n", seconds,
                 seconds > 0 ? static_cast<double>(progress.doneBytes) / seconds / 1e6 : 0.0);
    return exitStatus(statuses);
}

int runOne(const ConvertOptions &options, bool import) {
    if (options.files.size() != 2)
        return usageError(import ? "import needs IN.jpg OUT (or -d OUTDIR IN.jpg...)"
                                 : "export needs IN OUT.jpg (or -d OUTDIR IN...)");
    JpgToolConversion c = conversionOf(options, import);
    c.input = options.files[0].c_str();
    c.output = options.files[1].c_str();
    const JpgToolOptions tool = toolOptions(options);
    JpgToolOutcome outcome;
    const int32_t status = jpgToolConvert(&c, &tool, &outcome);
    if (status != 0) complain(outcome.file, outcome.message);
    return status;
}

}  // namespace

int convertCommand(const ConvertOptions &options, bool import) {
    if (!jpgToolKernelsAvailable(jpgToolKernelsByName(options.kernels.c_str()))) {
        complain("", "--kernels " + options.kernels + ": this processor does not run that set");
        return 1;
    }
    return options.outputDir.empty() ? runOne(options, import) : runBatch(options, import);
}

}  // namespace jpgtool
