#include "CompanionCore/CompanionInstaller.h"

#include "MetadataCore/BundledToolLocation.h"
#include "MetadataCore/ProductInfo.h"
#include "Platform/DesktopServices.h"
#include "Platform/Files.h"
#include "Platform/Moves.h"
#include "Platform/PathsAndText.h"

#include <boost/json.hpp>

#include <algorithm>
#include <optional>
#include <system_error>

namespace brindle {

namespace {

using platform::appendingPathComponent;
using Error = CompanionInstallerError;

constexpr mode_t privateDirectoryPermissions = 0700;
constexpr mode_t manifestPermissions = 0600;
constexpr mode_t desktopEntryPermissions = 0644;
// An Info.plist or a host manifest is a few kilobytes; anything this large is neither.
constexpr std::size_t maximumSmallFileBytes = 1 << 20;
constexpr const char* manifestLabel = "Chrome 连接文件";
constexpr const char* outdatedManifest = "Chrome 的连接信息不是当前版本";
constexpr const char* companionExecutablePath = "Contents/MacOS/kavo-helper";
constexpr std::string_view stagingPrefix = ".Kavo-Helper-install-";
constexpr std::string_view stagingSuffix = ".app";

[[noreturn]] void throwSystemError(std::error_code error) {
    throw std::system_error(error);
}

bool exists(const std::string& path) {
    return static_cast<bool>(platform::fileStatusAtPath(path));
}

bool isSameFolder(const std::string& first, const std::string& second) {
    const auto a = platform::fileStatusFollowingLinks(first);
    const auto b = platform::fileStatusFollowingLinks(second);
    return a && b && a->isDirectory() && a->identity == b->identity;
}

// A small file read through a descriptor opened, by default, without following a link.
platform::Result<std::string>
readSmallFile(const std::string& path, platform::LastLink lastLink = platform::LastLink::refuse) {
    auto file = platform::openRegularFile(path, platform::RequiredOwner::anyone, lastLink);
    if (!file)
        return file.error();
    if (file->status.size > static_cast<std::int64_t>(maximumSmallFileBytes))
        return std::make_error_code(std::errc::file_too_large);
    return platform::readHead(file->descriptor, maximumSmallFileBytes);
}

void appendIndentation(std::string& out, int depth) {
    out.append(static_cast<std::size_t>(depth) * 2, ' ');
}

// Sorted keys and two-space indentation, the way the manifest has always been laid out.
void appendPretty(std::string& out, const boost::json::value& value, int depth) {
    if (const auto* object = value.if_object(); object && !object->empty()) {
        std::vector<std::string_view> keys;
        for (const auto& member : *object)
            keys.push_back(member.key());
        std::sort(keys.begin(), keys.end());
        out += "{\n";
        for (std::size_t index = 0; index < keys.size(); ++index) {
            appendIndentation(out, depth + 1);
            out += boost::json::serialize(boost::json::string(keys[index]));
            out += " : ";
            appendPretty(out, object->at(keys[index]), depth + 1);
            out += index + 1 < keys.size() ? ",\n" : "\n";
        }
        appendIndentation(out, depth);
        out += "}";
    } else if (const auto* array = value.if_array(); array && !array->empty()) {
        out += "[\n";
        for (std::size_t index = 0; index < array->size(); ++index) {
            appendIndentation(out, depth + 1);
            appendPretty(out, (*array)[index], depth + 1);
            out += index + 1 < array->size() ? ",\n" : "\n";
        }
        appendIndentation(out, depth);
        out += "]";
    } else {
        out += boost::json::serialize(value);
    }
}

bool isCurrentManifest(const boost::json::value& parsed, std::string_view hostPath) {
    const auto* manifest = parsed.if_object();
    if (manifest == nullptr)
        return false;
    const auto isString = [&](const char* key, std::string_view expected) {
        const auto* member = manifest->if_contains(key);
        return member && member->is_string() && member->get_string() == expected;
    };
    if (!isString("name", KavoProduct::nativeHostName) || !isString("type", "stdio") ||
        !isString("path", hostPath))
        return false;
    // The browsers refuse a manifest without a description.
    const auto* description = manifest->if_contains("description");
    if (description == nullptr || !description->is_string() || description->get_string().empty())
        return false;
    const auto* origins = manifest->if_contains("allowed_origins");
    if (origins == nullptr || !origins->is_array() ||
        origins->get_array().size() != KavoProduct::allowedExtensionOrigins.size())
        return false;
    return std::ranges::equal(origins->get_array(), KavoProduct::allowedExtensionOrigins,
                              [](const boost::json::value& origin, std::string_view expected) {
                                  return origin.is_string() && origin.get_string() == expected;
                              });
}

// A value of a desktop entry: backslashes and control characters escaped.
std::string desktopEntryValue(std::string_view text) {
    std::string escaped;
    for (char character : text) {
        switch (character) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += character;
        }
    }
    return escaped;
}

// One quoted argument of an Exec line; "%" would start a field code.
std::string execArgument(std::string_view path) {
    std::string quoted = "\"";
    for (char character : path) {
        if (character == '"' || character == '`' || character == '$' || character == '\\')
            quoted += '\\';
        if (character == '%')
            quoted += '%';
        quoted += character;
    }
    return desktopEntryValue(quoted + "\"");
}

// The name of a hidden staging copy: the prefix, an upper-case UUID, ".app".
bool isStagingName(std::string_view name) {
    if (!name.starts_with(stagingPrefix) || !name.ends_with(stagingSuffix))
        return false;
    return platform::isUUIDString(name.substr(
        stagingPrefix.size(), name.size() - stagingPrefix.size() - stagingSuffix.size()));
}

// Staging copies that a companion ended during its copy left behind. Only folders of this
// program's name form and owner are removed.
void removeStaleStagingCopies(const std::string& applications) {
    const auto folder = platform::openDirectory(applications, platform::LastLink::follow);
    if (!folder)
        return;
    const auto entries = platform::directoryEntries(*folder);
    if (!entries)
        return;
    for (const platform::DirectoryEntry& entry : *entries) {
        const std::string& name = entry.name;
        const std::string path = appendingPathComponent(applications, name);
        const auto status = platform::fileStatusAtPath(path);
        if (isStagingName(name) && status && status->isOwnDirectory())
            (void)platform::removeDirectoryTree(path);
    }
}

// A companion holds a shared lock on ~/Applications while it copies itself there, and the lock
// ends with the process however it ends. So whoever gets the folder to itself knows that every
// staging copy in it is left over.
std::optional<platform::FolderLock> holdApplicationsFolder(const std::string& applications) {
    if (auto alone = platform::FolderLock::exclusive(applications)) {
        removeStaleStagingCopies(applications);
        if (alone->share())
            return std::move(*alone);
        return std::nullopt;
    }
    auto shared = platform::FolderLock::shared(applications);
    if (!shared)
        return std::nullopt;
    return std::move(*shared);
}

// Removes the hidden staging copy however the install ends.
class StagingCopy {
public:
    explicit StagingCopy(std::string path) : path_(std::move(path)) {}
    ~StagingCopy() { (void)platform::removeDirectoryTree(path_); }
    StagingCopy(const StagingCopy&) = delete;
    StagingCopy& operator=(const StagingCopy&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

bool isCurrentHostManifest(std::string_view bytes, std::string_view hostPath) {
    boost::system::error_code parseError;
    const boost::json::value parsed = boost::json::parse(bytes, parseError);
    return !parseError && isCurrentManifest(parsed, hostPath);
}

std::string bundleIdentifier(const std::string& bundle) {
    const auto contents = readSmallFile(appendingPathComponent(bundle, "Contents/Info.plist"));
    if (!contents)
        return {};
    return platform::propertyListDictionaryString(*contents, "CFBundleIdentifier").value_or("");
}

CompanionInstaller::CompanionInstaller(std::string_view bundleURL, std::string_view homeDirectory)
    : CompanionInstaller(bundleURL, CompanionPaths(homeDirectory)) {}

CompanionInstaller::CompanionInstaller(std::string_view bundleURL, CompanionPaths paths)
    : bundleURL_(platform::absoluteStandardizedPath(bundleURL)), paths_(std::move(paths)) {}

std::string CompanionInstaller::hostURL() const {
    return appendingPathComponent(
        bundleURL_, "Contents/MacOS/" + std::string(KavoProduct::nativeHostExecutableName));
}

std::string CompanionInstaller::saveUIApplicationURL() const {
    return appendingPathComponent(bundleURL_, "Contents/Helpers/BrindleSaveUI.app");
}

std::string CompanionInstaller::toolsDirectoryURL() const {
    return BundledToolLocation::bundleToolsDirectory(bundleURL_);
}

std::string CompanionInstaller::companionExecutableURL() const {
    return appendingPathComponent(bundleURL_, companionExecutablePath);
}

// The same folder reached through another spelling (a home folder under a linked /home, say)
// counts as well: otherwise the installed copy would take itself for a temporary one and install
// itself over itself on every start. A ~/Applications that is itself a link is no install place:
// it may lead anywhere, Downloads included.
bool CompanionInstaller::isInStableApplicationsDirectory() const {
    if (isSystemWideInstallation())
        return true;
    const std::string parent = platform::deletingLastPathComponent(bundleURL_);
    const std::string applications = paths_.userApplicationsDirectory();
    return isSafeExistingDirectory(applications) &&
           (parent == applications || isSameFolder(parent, applications));
}

bool CompanionInstaller::isSystemWideInstallation() const {
    return platform::deletingLastPathComponent(bundleURL_) == paths_.systemApplicationsDirectory();
}

void CompanionInstaller::requireRegularFile(const std::string& path,
                                            const std::string& label) const {
    const auto status = platform::fileStatusAtPath(path);
    if (!status || !status->isRegularFile())
        throw Error::unsafePath(label + "：" + path);
}

void CompanionInstaller::requireBundle(const std::string& path, std::string_view identifier,
                                       const std::string& label) const {
    const auto status = platform::fileStatusAtPath(path);
    if (!status || !status->isDirectory() || bundleIdentifier(path) != identifier)
        throw Error::invalidApplication(label + "无效");
}

void CompanionInstaller::validateApplication() const {
    if (bundleIdentifier(bundleURL_) != KavoProduct::companionBundleIdentifier)
        throw Error::invalidApplication("应用标识不正确");
    requireRegularFile(hostURL(), "本机通信组件");
    if (!platform::isExecutableFile(hostURL()))
        throw Error::invalidApplication("本机通信组件不能运行");
    requireBundle(saveUIApplicationURL(), KavoProduct::saveUIBundleIdentifier, "保存窗口组件");
    for (const char* tool : {"ffmpeg", "ffprobe", "cwebp"}) {
        const std::string path = appendingPathComponent(toolsDirectoryURL(), tool);
        requireRegularFile(path, tool);
        if (!platform::isExecutableFile(path))
            throw Error::invalidApplication(std::string(tool) + "不能运行");
    }
}

void CompanionInstaller::ensureSafeDirectory(const std::string& path) const {
    walkFromHome(path, true);
}

// Whether the folder is there, reached from the home folder through real folders only; a link or
// a file on the way is refused, and a place outside the home folder is never ours.
bool CompanionInstaller::isSafeExistingDirectory(const std::string& path) const {
    try {
        return walkFromHome(path, false);
    } catch (const std::exception&) {
        return false;
    }
}

// Walks down from the home folder one component at a time, so that a link anywhere on the way
// stops the walk instead of leading it out of the home folder. Without `create`, a missing folder
// ends the walk with false; a target outside the home folder is then not there either.
bool CompanionInstaller::walkFromHome(const std::string& path, bool create) const {
    const std::string& home = paths_.homeDirectory;
    const std::string target = platform::standardizedPath(path);
    const auto homeStatus = platform::fileStatusAtPath(home);
    if (!homeStatus || !homeStatus->isDirectory())
        throw Error::unsafePath(home);
    const std::string prefix = home == "/" ? home : home + "/";
    if (!target.starts_with(prefix) || target.size() == prefix.size()) {
        if (!create)
            return false;
        throw Error::unsafePath(target);
    }

    std::string current = home;
    std::string_view rest = std::string_view(target).substr(prefix.size());
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        current = appendingPathComponent(current, rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        auto status = platform::fileStatusAtPath(current);
        if (!status && status.error() == std::errc::no_such_file_or_directory && !create)
            return false;
        if (!status && status.error() == std::errc::no_such_file_or_directory) {
            if (auto created = platform::createDirectory(current, privateDirectoryPermissions);
                !created)
                throwSystemError(created.error());
            // A link put in its place meanwhile would have been taken for the new folder.
            status = platform::fileStatusAtPath(current);
        }
        if (!status && status.error() != std::errc::no_such_file_or_directory)
            throwSystemError(status.error());
        if (!status || !status->isDirectory())
            throw Error::unsafePath(current);
    }
    return true;
}

std::string CompanionInstaller::installOrUpdateApplication() const {
    validateApplication();
    if (isInStableApplicationsDirectory()) {
        if (platform::deletingLastPathComponent(bundleURL_) == paths_.userApplicationsDirectory())
            writeDesktopEntry(bundleURL_);
        return bundleURL_;
    }
    const std::string target = paths_.installedApplicationURL();
    // The browsers' manifests could not name the installed host.
    if (!platform::isValidUTF8(target))
        throw Error::unencodablePath(target);
    ensureSafeDirectory(paths_.userApplicationsDirectory());
    const auto existing = platform::fileStatusAtPath(target);
    if (existing)
        requireBundle(target, KavoProduct::companionBundleIdentifier, "现有Kavo助手");
    const auto lock = holdApplicationsFolder(paths_.userApplicationsDirectory());

    const StagingCopy staging(
        appendingPathComponent(paths_.userApplicationsDirectory(),
                               ".Kavo-Helper-install-" + platform::randomUUIDString() + ".app"));
    const auto platformFailure = [](const std::error_code& error) {
        return Error::invalidApplication(error.message());
    };
    if (auto copied = platform::copyDirectoryTree(bundleURL_, staging.path()); !copied)
        throw platformFailure(copied.error());
    CompanionInstaller(staging.path(), paths_.homeDirectory).validateApplication();
    if (existing) {
        if (auto swapped = platform::exchangePaths(staging.path(), target); !swapped)
            throw platformFailure(swapped.error());
        // What was swapped out must be the companion checked above, not an item put there since.
        const auto displaced = platform::fileStatusAtPath(staging.path());
        if (!displaced || displaced->identity != existing->identity) {
            (void)platform::exchangePaths(staging.path(), target);
            throw Error::invalidApplication("现有Kavo助手无效");
        }
    } else if (auto moved = platform::renameExclusively(staging.path(), target); !moved) {
        throw platformFailure(moved.error());
    }
    writeDesktopEntry(target);
    return target;
}

namespace {

// The entry that puts the companion at `bundle` into the application menu.
std::string desktopEntry(const std::string& bundle) {
    const std::string program = appendingPathComponent(bundle, companionExecutablePath);
    const std::string icon = appendingPathComponent(bundle, "Contents/Resources/kavo-helper.svg");
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           std::string(KavoProduct::companionName) +
           "\nName[zh_CN]=" + std::string(KavoProduct::companionDisplayName) +
           "\n"
           "Comment=Connects the Brindle Chrome extension to this computer\n"
           "Comment[zh_CN]=连接 Chrome 扩展与这台电脑\n"
           "Exec=" +
           execArgument(program) + "\nIcon=" + desktopEntryValue(icon) +
           "\n"
           "Terminal=false\n"
           "Categories=Utility;\n"
           "StartupWMClass=kavo-helper\n";
}

} // namespace

// The menu entry is a convenience: a linked ~/.local/share or a full disk leaves the companion
// installed and working, only missing from the application menu.
void CompanionInstaller::writeDesktopEntry(const std::string& bundle) const {
    if (!platform::isValidUTF8(bundle))
        return;
    try {
        ensureSafeDirectory(paths_.desktopEntryDirectory());
        const std::string path = paths_.desktopEntryURL();
        const auto existing = platform::fileStatusAtPath(path);
        if (existing && !existing->isRegularFile())
            return;
        (void)platform::writeFileAtomically(path, desktopEntry(bundle), desktopEntryPermissions);
    } catch (const std::exception&) {
    }
}

std::string CompanionInstaller::manifestData() const {
    boost::json::array origins;
    for (std::string_view origin : KavoProduct::allowedExtensionOrigins)
        origins.emplace_back(origin);
    const boost::json::object manifest = {
        {"name", KavoProduct::nativeHostName},
        {"description", "Kavo macOS helper"},
        {"path", hostURL()},
        {"type", "stdio"},
        {"allowed_origins", std::move(origins)},
    };
    std::string bytes;
    appendPretty(bytes, manifest, 0);
    return bytes + "\n";
}

// Google Chrome always, so that a Chrome installed later finds the host; each other browser
// where its folder shows that it is used here.
std::vector<ChromiumBrowser> CompanionInstaller::presentBrowsers() const {
    std::vector<ChromiumBrowser> present;
    for (const ChromiumBrowser& browser : chromiumBrowsers()) {
        if (present.empty() || exists(paths_.browserFolder(browser)))
            present.push_back(browser);
    }
    return present;
}

std::vector<SandboxedBrowser> CompanionInstaller::sandboxedBrowsersPresent() const {
    std::vector<SandboxedBrowser> present;
    for (const SandboxedBrowser& browser : sandboxedBrowsers()) {
        if (exists(paths_.sandboxFolder(browser)))
            present.push_back(browser);
    }
    return present;
}

void CompanionInstaller::connect() const {
    if (!isInStableApplicationsDirectory())
        throw Error::unstableApplicationLocation();
    if (!platform::isValidUTF8(hostURL()))
        throw Error::unencodablePath(hostURL());
    validateApplication();
    // A browser that already starts this host through the package's system-wide manifest needs
    // no manifest of the user's, which would outlive the package and point at nothing.
    std::vector<ChromiumBrowser> browsers = presentBrowsers();
    std::erase_if(browsers, [&](const ChromiumBrowser& browser) {
        return !exists(paths_.manifestURL(browser)) &&
               systemManifestState(browser).kind == CompanionConnectionState::Kind::connected;
    });
    for (const ChromiumBrowser& browser : browsers) {
        ensureSafeDirectory(paths_.manifestDirectory(browser));
        if (exists(paths_.manifestURL(browser)))
            requireRegularFile(paths_.manifestURL(browser), manifestLabel);
    }
    const std::string bytes = manifestData();
    for (const ChromiumBrowser& browser : browsers) {
        if (!platform::writeFileAtomically(paths_.manifestURL(browser), bytes, manifestPermissions))
            throw Error::cannotCreateManifest();
    }
}

// The folders are walked as connect walks them: a manifest reached through a link is not ours to
// remove, wherever the link leads.
void CompanionInstaller::disconnect() const {
    std::vector<std::string> manifests;
    for (const ChromiumBrowser& browser : chromiumBrowsers()) {
        const std::string manifest = paths_.manifestURL(browser);
        if (!walkFromHome(paths_.manifestDirectory(browser), false) || !exists(manifest))
            continue;
        requireRegularFile(manifest, manifestLabel);
        manifests.push_back(manifest);
    }
    for (const std::string& manifest : manifests) {
        if (auto removed = platform::removeFile(manifest); !removed)
            throwSystemError(removed.error());
    }
}

// The bundle goes only when it is a folder of this user's holding the companion, the menu entry
// only when it is this user's file; what the host keeps for itself stays.
void CompanionInstaller::uninstall() const {
    if (isSystemWideInstallation())
        throw Error::systemWideInstallation();
    disconnect();
    const std::string applications = paths_.userApplicationsDirectory();
    if (walkFromHome(applications, false)) {
        const std::string installed = paths_.installedApplicationURL();
        if (const auto status = platform::fileStatusAtPath(installed)) {
            requireBundle(installed, KavoProduct::companionBundleIdentifier, "现有Kavo助手");
            if (!status->isOwnDirectory())
                throw Error::unsafePath(installed);
            const auto lock = holdApplicationsFolder(applications);
            if (auto removed = platform::removeDirectoryTree(installed); !removed)
                throwSystemError(removed.error());
        }
    }
    const std::string entry = paths_.desktopEntryURL();
    if (!walkFromHome(paths_.desktopEntryDirectory(), false) || !exists(entry))
        return;
    if (const auto status = platform::fileStatusAtPath(entry);
        !status || !status->isOwnRegularFile())
        throw Error::unsafePath(entry);
    if (auto removed = platform::removeFile(entry); !removed)
        throwSystemError(removed.error());
}

CompanionConnectionState CompanionInstaller::manifestState(const std::string& manifest) const {
    if (!exists(manifest))
        return CompanionConnectionState::disconnected();
    try {
        requireRegularFile(manifest, manifestLabel);
    } catch (const Error& error) {
        return CompanionConnectionState::needsRepair(error.what());
    }
    return manifestContentState(readSmallFile(manifest));
}

CompanionConnectionState
CompanionInstaller::manifestContentState(const platform::Result<std::string>& bytes) const {
    if (!bytes)
        return CompanionConnectionState::needsRepair(bytes.error().message());
    if (!isCurrentHostManifest(*bytes, hostURL()))
        return CompanionConnectionState::needsRepair(outdatedManifest);
    return CompanionConnectionState::connected();
}

// The browsers read a system-wide manifest through links, as the package installs it, and only
// the administrator can change what is there: it counts only when it names this very host.
CompanionConnectionState
CompanionInstaller::systemManifestState(const ChromiumBrowser& browser) const {
    const std::string manifest = paths_.systemManifestURL(browser);
    if (manifest.empty())
        return CompanionConnectionState::disconnected();
    const auto bytes = readSmallFile(manifest, platform::LastLink::follow);
    if (!bytes && bytes.error() == std::errc::no_such_file_or_directory)
        return CompanionConnectionState::disconnected();
    return manifestContentState(bytes);
}

// Each browser reads its per-user manifest first and its system-wide one only when there is none.
std::vector<BrowserConnection> CompanionInstaller::browserConnections() const {
    std::vector<BrowserConnection> connections;
    for (const ChromiumBrowser& browser : presentBrowsers()) {
        const std::string manifest = paths_.manifestURL(browser);
        if (!exists(manifest)) {
            const CompanionConnectionState system = systemManifestState(browser);
            if (system.kind != CompanionConnectionState::Kind::disconnected) {
                connections.push_back(
                    {std::string(browser.name), paths_.systemManifestURL(browser), system});
                continue;
            }
        }
        connections.push_back({std::string(browser.name), manifest, manifestState(manifest)});
    }
    return connections;
}

CompanionConnectionState CompanionInstaller::connectionState() const {
    using Kind = CompanionConnectionState::Kind;
    const std::vector<BrowserConnection> browsers = browserConnections();
    // Google Chrome's reasons are shown as they are; another browser's carry its name.
    for (const BrowserConnection& browser : browsers) {
        if (browser.state.kind != Kind::needsRepair)
            continue;
        if (&browser == &browsers.front())
            return browser.state;
        return CompanionConnectionState::needsRepair(browser.name + "：" + browser.state.reason);
    }
    const auto connected = [](const BrowserConnection& browser) {
        return browser.state.kind == Kind::connected;
    };
    if (std::ranges::none_of(browsers, connected))
        return CompanionConnectionState::disconnected();
    // A browser started for the first time since the connect has no manifest yet.
    if (const auto missing = std::ranges::find_if_not(browsers, connected);
        missing != browsers.end())
        return CompanionConnectionState::needsRepair(missing->name + " 尚未连接");
    if (!isInStableApplicationsDirectory())
        return CompanionConnectionState::needsRepair("助手仍在临时位置");
    try {
        validateApplication();
    } catch (const std::exception& error) {
        return CompanionConnectionState::needsRepair(error.what());
    }
    return CompanionConnectionState::connected();
}

} // namespace brindle
