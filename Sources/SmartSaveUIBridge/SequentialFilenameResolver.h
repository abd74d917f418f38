#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

class SequentialFilenameResolverError : public std::exception {
public:
    enum class Case { noAvailableFilename };

    static SequentialFilenameResolverError noAvailableFilename() {
        return SequentialFilenameResolverError(Case::noAvailableFilename);
    }

    Case errorCase() const noexcept { return case_; }
    const char* what() const noexcept override { return "同名文件过多，无法生成可用的新文件名"; }

private:
    explicit SequentialFilenameResolverError(Case errorCase) : case_(errorCase) {}
    Case case_;
};

/// Proposes a free name for a file saved into a folder: a taken name gets a space and a number
/// in parentheses after its base name ("photo (1).jpg"), and a name that already carries one
/// continues from it ("photo (3).jpg" becomes "photo (4).jpg"). Names are compared in composed
/// Unicode form, and without regard to case where the folder does not tell case apart.
struct SequentialFilenameResolver {
    static constexpr std::int64_t defaultMaximumSequenceNumber = 100'000;

    /// Throws `SequentialFilenameResolverError` when every number up to the maximum is taken.
    std::string resolve(const std::string& suggestedFilename,
                        const std::vector<std::string>& existingFilenames, bool caseSensitive,
                        std::int64_t maximumSequenceNumber) const;

    /// Against the names in the folder, with the folder's own case rule (case-insensitive when
    /// it cannot be told). A folder that cannot be listed throws `SmartSaveFileError`.
    std::string resolve(const std::string& suggestedFilename, const std::string& directoryPath,
                        std::int64_t maximumSequenceNumber) const;
};

/// A filename as the save panel shows it: the base name that the user edits, and the extension
/// that the panel keeps beside the field.
class SavePanelFilenamePresentation {
public:
    explicit SavePanelFilenamePresentation(std::string managedFilename);

    const std::string& managedFilename() const noexcept { return managedFilename_; }
    const std::string& editableBasename() const noexcept { return editableBasename_; }
    /// "." and the extension, or empty when the name has none.
    const std::string& extensionWithDot() const noexcept { return extensionWithDot_; }

    /// True while the field still shows the untouched base name.
    bool representsManagedFilename(std::string_view text) const {
        return text == editableBasename_;
    }

    /// The edited base name, trimmed, with the extension; the managed filename when nothing is
    /// left after trimming.
    std::string fullFilename(std::string_view editableBasename) const;

private:
    std::string managedFilename_;
    std::string editableBasename_;
    std::string extensionWithDot_;
};

} // namespace brindle
