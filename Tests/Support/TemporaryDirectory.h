#pragma once

#include <string>

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

} // namespace brindle::testing
