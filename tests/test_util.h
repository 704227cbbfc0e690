// Helpers shared by the tests on POSIX systems: scratch directories,
// whole-file I/O and running programs; and the pictures of test_images.h.
#ifndef JPG_TESTS_TEST_UTIL_H
#define JPG_TESTS_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

#include "test_images.h"

namespace testutil {

// A fresh directory under the system's temporary directory, removed with
// its content when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

bool fileExists(const std::string &path);
Bytes readFile(const std::string &path);
void writeFile(const std::string &path, const Bytes &bytes);

// Runs a shell command; returns its exit status. Output to standard error
// is kept in `errorText` when given.
int run(const std::string &command, std::string *errorText = nullptr);
bool haveProgram(const std::string &name);

}  // namespace testutil

#endif
