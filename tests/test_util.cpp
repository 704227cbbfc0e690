#include "test_util.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testutil {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "jpgtest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool fileExists(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

int run(const std::string &command, std::string *errorText) {
    std::string cmd = command;
    std::string errPath;
    if (errorText != nullptr) {
        char tmpl[] = "/tmp/jpgtest-err-XXXXXX";
        const int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        errPath = tmpl;
        cmd += " 2>" + errPath;
    }
    const int status = std::system(cmd.c_str());
    if (errorText != nullptr) {
        std::ifstream in(errPath);
        errorText->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::remove(errPath.c_str());
    }
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool haveProgram(const std::string &name) { return run("command -v " + name + " >/dev/null 2>&1") == 0; }

}  // namespace testutil
