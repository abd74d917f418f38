#pragma once

#include <exception>
#include <string>

namespace brindle {

/// What a reveal did: the file was shown (at its standardised path), or there was no file to
/// show.
class FinderRevealResult {
public:
    enum class Case { revealed, missing };

    static FinderRevealResult revealed(std::string path) {
        return {Case::revealed, std::move(path)};
    }
    static FinderRevealResult missing() { return {Case::missing, {}}; }

    Case resultCase() const noexcept { return case_; }
    /// The standardised path of the file that was shown; empty when missing.
    const std::string& path() const noexcept { return path_; }

private:
    FinderRevealResult(Case resultCase, std::string path)
        : case_(resultCase), path_(std::move(path)) {}

    Case case_;
    std::string path_;
};

class FinderRevealError : public std::exception {
public:
    enum class Case { invalidPath };

    static FinderRevealError invalidPath() { return FinderRevealError(Case::invalidPath); }

    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override { return "Finder 定位路径无效"; }

private:
    explicit FinderRevealError(Case errorCase) : case_(errorCase) {}

    Case case_;
};

/// Shows a downloaded file selected in the user's file manager.
struct FinderRevealer {
    /// Throws `FinderRevealError` for a path that is empty, relative, longer than 8192 bytes or
    /// holds a NUL byte. A path naming nothing, or a folder, is `missing`.
    FinderRevealResult revealFile(const std::string& path) const;
};

} // namespace brindle
