#pragma once

#include <exception>
#include <string>

namespace brindle {

/// Why the companion did not install itself or connect Chrome; `what()` is the text shown to
/// the user.
class CompanionInstallerError : public std::exception {
public:
    enum class Case {
        invalidApplication,
        unsafePath,
        unstableApplicationLocation,
        cannotCreateManifest,
        unencodablePath,
        systemWideInstallation
    };

    static CompanionInstallerError invalidApplication(const std::string& what);
    static CompanionInstallerError unsafePath(const std::string& path);
    static CompanionInstallerError unstableApplicationLocation();
    static CompanionInstallerError cannotCreateManifest();
    /// A path a manifest would have to carry that is no UTF-8 text; the message shows it with
    /// each byte that is not part of a character replaced by U+FFFD.
    static CompanionInstallerError unencodablePath(const std::string& path);

    /// The companion was installed for every user by its package, which only the package manager
    /// removes.
    static CompanionInstallerError systemWideInstallation();

    Case errorCase() const noexcept { return case_; }
    const std::string& payload() const noexcept { return payload_; }
    const char* what() const noexcept override { return message_.c_str(); }
    bool operator==(const CompanionInstallerError& other) const {
        return case_ == other.case_ && payload_ == other.payload_;
    }

private:
    CompanionInstallerError(Case errorCase, std::string payload, std::string message)
        : case_(errorCase), payload_(std::move(payload)), message_(std::move(message)) {}

    Case case_;
    std::string payload_;
    std::string message_;
};

} // namespace brindle
