#include "MetadataCore/DirectSaveUploadStore.h"

#include "MetadataCore/DirectoryCreation.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"
#include "Platform/Processes.h"
#include "TemporaryOutputName.h"

#include <algorithm>
#include <system_error>
#include <vector>

namespace brindle {

namespace {

using Error = DirectSaveUploadError;

constexpr mode_t directoryPermissions = 0700;
constexpr mode_t filePermissions = 0600;
constexpr std::size_t maximumIdentifierCharacters = 80;
constexpr std::size_t maximumExtensionCharacters = 12;
constexpr std::string_view fallbackExtension = ".download";
// What a file name may take on Linux file systems (and APFS), in bytes.
constexpr std::size_t maximumNameBytes = 255;
constexpr std::size_t uuidBytes = platform::uuidStringLength;

// The folder stays open: its lock keeps the staging of new uploads and the clean-up of dead
// hosts' apart, and the clean-up lists it.
platform::Directory preparePrivateDirectory(const std::string& path) {
    const auto status = platform::fileStatusAtPath(path);
    if (!status) {
        if (status.error() != std::errc::no_such_file_or_directory)
            throw Error(Error::Case::invalidUpload);
        createDirectoryWithIntermediates(path, directoryPermissions);
    } else if (!status->isOwnDirectory()) {
        throw Error(Error::Case::invalidUpload);
    }
    // Through a descriptor, so a link put in the folder's place since the check is not followed.
    auto folder = platform::openDirectory(path);
    if (!folder)
        throw std::system_error(folder.error());
    const auto opened = platform::fileStatus(*folder);
    if (!opened || !opened->isOwnDirectory())
        throw Error(Error::Case::invalidUpload);
    if (const auto changed = platform::setPermissions(*folder, directoryPermissions); !changed)
        throw std::system_error(changed.error());
    return std::move(*folder);
}

std::string alphanumericsAndHyphens(std::string_view text) {
    std::string kept;
    for (std::size_t offset = 0; offset < text.size();) {
        const platform::DecodedScalar scalar = platform::decodeScalar(text, offset);
        if (scalar.value == U'-' ||
            (!scalar.isUndecodable() && platform::isAlphanumeric(scalar.value)))
            kept.append(text.substr(offset, scalar.length));
        offset += scalar.length;
    }
    return kept;
}

bool isAlphanumericText(std::string_view text) {
    for (std::size_t offset = 0; offset < text.size();) {
        const platform::DecodedScalar scalar = platform::decodeScalar(text, offset);
        if (scalar.isUndecodable() || !platform::isAlphanumeric(scalar.value))
            return false;
        offset += scalar.length;
    }
    return true;
}

std::string safeExtension(const std::optional<std::string>& suggestedFilename) {
    const std::string extension =
        platform::lowercased(platform::pathExtension(suggestedFilename.value_or("")));
    if (extension.empty() || platform::characterCount(extension) > maximumExtensionCharacters ||
        !isAlphanumericText(extension))
        return std::string(fallbackExtension);
    return "." + extension;
}

// The identifier's first 80 characters, fewer when they would not fit in a file name beside
// the UUID and the extension: 80 Chinese characters alone take 240 bytes.
std::string safeIdentifier(std::string_view requestID, std::size_t extensionBytes) {
    const std::string kept = alphanumericsAndHyphens(requestID);
    const std::size_t room = maximumNameBytes - 1 - uuidBytes - extensionBytes;
    const std::vector<std::size_t> ends = platform::characterEnds(kept);
    std::size_t length = 0;
    for (std::size_t index = 0; index < ends.size() && index < maximumIdentifierCharacters;
         ++index) {
        if (ends[index] > room)
            break;
        length = ends[index];
    }
    return kept.substr(0, length);
}

void removeQuietly(const std::string& path) noexcept {
    static_cast<void>(platform::removeFile(path));
}

// The names `begin` gives (a prepared file keeps the form): safe identifier, "-", UUID, safe
// extension.
bool isStagedName(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view stem = name.substr(0, dot), extension = name.substr(dot + 1);
    if (extension.empty() || platform::characterCount(extension) > maximumExtensionCharacters ||
        !isAlphanumericText(extension) || platform::lowercased(extension) != extension)
        return false;
    if (stem.size() < uuidBytes + 2 || stem[stem.size() - uuidBytes - 1] != '-' ||
        !platform::isUUIDString(stem.substr(stem.size() - uuidBytes)))
        return false;
    const std::string_view identifier = stem.substr(0, stem.size() - uuidBytes - 1);
    return alphanumericsAndHyphens(identifier) == identifier;
}

} // namespace

DirectSaveUploadStore::DirectSaveUploadStore(const std::string& directory)
    : rootURL_(platform::standardizedPath(directory)),
      rootDescriptor_(preparePrivateDirectory(rootURL_)) {}

DirectSaveUploadStore::~DirectSaveUploadStore() {
    std::vector<std::string> identifiers;
    for (const auto& [identifier, session] : sessions_)
        identifiers.push_back(identifier);
    for (const auto& [identifier, readyFile] : readyFiles_)
        identifiers.push_back(identifier);
    for (const std::string& identifier : identifiers)
        cancel(identifier);
}

// Hosts may reach the folder through other spellings of its path, so what they noted is matched
// by identity: a file is a living host's when it is one that host noted, or one that its swap put
// in place (a converted upload renamed since), or when it has a name that host noted in this very
// folder (whose contents a conversion may be swapping at this moment).
void DirectSaveUploadStore::removeAbandonedUploads() noexcept {
    try {
        const platform::FileLock settling(rootDescriptor_, platform::FileLock::Kind::exclusive);
        const auto survey =
            platform::processJournal::settleAbandonedJournals(rootDescriptor_, isTemporaryName);
        const auto folder = platform::fileStatus(rootDescriptor_);
        if (!folder)
            return;
        std::vector<std::string> heldNames;
        for (const std::string& path : survey.livingNotes) {
            const auto noted =
                platform::fileStatusFollowingLinks(platform::deletingLastPathComponent(path));
            if (noted && noted->identity == folder->identity)
                heldNames.push_back(platform::lastPathComponent(path));
        }
        for (const std::string& name : survey.otherFiles) {
            const std::string path = platform::appendingPathComponent(rootURL_, name);
            const auto status = platform::fileStatusAtPath(path);
            if (isStagedName(name) && status && status->isOwnRegularFile() &&
                std::ranges::find(heldNames, name) == heldNames.end() &&
                std::ranges::find(survey.livingFiles, status->identity) == survey.livingFiles.end())
                removeQuietly(path);
        }
    } catch (const std::exception&) {
        // Clean-up is owed to the dead; it must never keep the living host from starting.
    }
}

void DirectSaveUploadStore::begin(const std::string& requestID,
                                  const std::optional<std::string>& suggestedFilename) {
    const std::string extension = safeExtension(suggestedFilename);
    const std::string identifier = safeIdentifier(requestID, extension.size());
    if (identifier.empty())
        throw Error(Error::Case::invalidRequest);
    cancel(requestID);
    std::string url = platform::appendingPathComponent(
        rootURL_, identifier + "-" + platform::randomUUIDString() + extension);
    // A host settling the folder lists it and reads the journals under the exclusive lock: it
    // finds this file only together with its note.
    const platform::FileLock staging(rootDescriptor_, platform::FileLock::Kind::shared);
    platform::processJournal::noteTemporaryFile(url);
    auto file = platform::createExclusiveFile(url, filePermissions);
    if (!file)
        throw Error(Error::Case::writeFailed);
    sessions_.emplace(requestID, Session{std::move(url), std::move(*file), 0, 0});
}

std::int64_t DirectSaveUploadStore::append(const std::string& requestID, std::int64_t chunkIndex,
                                           std::string_view base64) {
    const auto found = sessions_.find(requestID);
    if (found == sessions_.end())
        throw Error(Error::Case::invalidChunk);
    Session& session = found->second;
    if (chunkIndex != session.nextChunkIndex)
        throw Error(Error::Case::invalidChunk);
    // An oversized chunk is refused before any of it is decoded.
    if (platform::base64DecodedLength(base64) > static_cast<std::size_t>(maximumChunkBytes) ||
        !platform::decodeBase64(base64, decodedChunk_) || decodedChunk_.empty())
        throw Error(Error::Case::invalidChunk);
    const std::int64_t total = session.byteCount + static_cast<std::int64_t>(decodedChunk_.size());
    if (total > maximumUploadBytes)
        throw Error(Error::Case::invalidChunk);
    if (!platform::writeAll(session.handle, decodedChunk_)) {
        cancel(requestID);
        throw Error(Error::Case::writeFailed);
    }
    // Storage works on this chunk while the next one is parsed and decoded, instead of all of
    // them waiting for the flush at the end (a 256 MiB upload took up to twice as long as a
    // plain copy with fsync without this).
    platform::startWriteback(session.handle, session.byteCount,
                             static_cast<std::int64_t>(decodedChunk_.size()));
    ++session.nextChunkIndex;
    session.byteCount = total;
    return total;
}

std::string DirectSaveUploadStore::finish(const std::string& requestID, std::int64_t expectedBytes,
                                          std::int64_t expectedChunks) {
    if (const auto ready = readyFiles_.find(requestID); ready != readyFiles_.end()) {
        if (ready->second.byteCount == expectedBytes && ready->second.chunkCount == expectedChunks)
            return ready->second.url;
        throw Error(Error::Case::invalidUpload);
    }
    auto node = sessions_.extract(requestID);
    if (node.empty())
        throw Error(Error::Case::invalidUpload);
    Session& session = node.mapped();
    if (session.byteCount < 1 || session.byteCount != expectedBytes ||
        session.nextChunkIndex != expectedChunks) {
        session.handle.close();
        removeQuietly(session.url);
        throw Error(Error::Case::invalidUpload);
    }
    const bool synchronized = platform::synchronize(session.handle).has_value();
    if (session.handle.close() != 0 || !synchronized) {
        removeQuietly(session.url);
        throw Error(Error::Case::writeFailed);
    }
    const auto status = platform::fileStatusAtPath(session.url);
    if (!status || !status->isOwnRegularFile() || status->size != expectedBytes) {
        removeQuietly(session.url);
        throw Error(Error::Case::invalidUpload);
    }
    readyFiles_.emplace(requestID, ReadyFile{session.url, expectedBytes, expectedChunks, false});
    return session.url;
}

void DirectSaveUploadStore::replaceFile(const std::string& requestID, const std::string& path) {
    const auto ready = readyFiles_.find(requestID);
    if (ready == readyFiles_.end())
        throw Error(Error::Case::invalidUpload);
    std::string standardized = platform::standardizedPath(path);
    if (standardized != ready->second.url)
        platform::processJournal::noteTemporaryFile(standardized);
    ready->second.url = std::move(standardized);
}

void DirectSaveUploadStore::markPrepared(const std::string& requestID, const std::string& path) {
    replaceFile(requestID, path);
    readyFiles_.at(requestID).prepared = true;
}

std::vector<std::string> DirectSaveUploadStore::files() const {
    std::vector<std::string> paths;
    for (const auto& [identifier, session] : sessions_)
        paths.push_back(session.url);
    for (const auto& [identifier, readyFile] : readyFiles_)
        paths.push_back(readyFile.url);
    return paths;
}

std::optional<std::string> DirectSaveUploadStore::preparedURL(const std::string& requestID) const {
    const auto ready = readyFiles_.find(requestID);
    if (ready == readyFiles_.end() || !ready->second.prepared)
        return std::nullopt;
    return ready->second.url;
}

void DirectSaveUploadStore::complete(const std::string& requestID) {
    sessions_.erase(requestID);
    readyFiles_.erase(requestID);
}

void DirectSaveUploadStore::cancel(const std::string& requestID) noexcept {
    if (auto session = sessions_.extract(requestID); !session.empty()) {
        session.mapped().handle.close();
        removeQuietly(session.mapped().url);
    }
    if (auto ready = readyFiles_.extract(requestID); !ready.empty())
        removeQuietly(ready.mapped().url);
}

} // namespace brindle
