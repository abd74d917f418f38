#include "Support/TemporaryDirectory.h"

#include "Platform/Files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <stdexcept>

namespace brindle::testing {

TemporaryDirectory::TemporaryDirectory(const std::string& parent) {
    const char* tmp = std::getenv("TMPDIR");
    path_ = !parent.empty() ? parent : tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    path_ += "/brindle-test-XXXXXX";
    if (mkdtemp(path_.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed: " + path_);
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& contents, unsigned mode) {
    if (!(std::ofstream(path, std::ios::binary | std::ios::trunc) << contents))
        throw std::runtime_error("cannot write " + path);
    chmod(path.c_str(), mode);
}

std::string readFile(const std::string& path) {
    // Whole buffers: the tests compare files of many MiB, which a character at a time makes
    // slow under the sanitizers.
    std::ostringstream contents;
    contents << std::ifstream(path, std::ios::binary).rdbuf();
    return contents.str();
}

bool exists(const std::string& path) {
    return platform::fileStatusAtPath(path).has_value();
}

struct stat statusOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

std::vector<std::string> entries(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return {names.begin(), names.end()};
}

} // namespace brindle::testing
