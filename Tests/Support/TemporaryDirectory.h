#pragma once

#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace brindle::testing {

/// A fresh private directory under $TMPDIR (or /tmp), removed with everything in it.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::string& parent = "");
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& contents, unsigned mode = 0644);
std::string readFile(const std::string& path);

/// Whether anything, a dangling link included, is at `path`.
bool exists(const std::string& path);

/// The status of `path` itself (a link is not followed); fails the current test when there is none.
struct stat statusOf(const std::string& path);

/// The names in `directory`, sorted.
std::vector<std::string> entries(const std::string& directory);

/// Runs `call` and returns the message of the `Error` it throws, or "" when it throws none.
template <class Error, class Call> std::string messageOf(const Call& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

/// Runs `call` and returns the case of the `Error` it throws, or nothing when it throws none.
template <class Error, class Call> std::optional<typename Error::Case> caseOf(const Call& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.errorCase();
    }
    return std::nullopt;
}

} // namespace brindle::testing
