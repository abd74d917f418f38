#pragma once

#include "MetadataCore/DirectSaveUploadError.h"
#include "Platform/Files.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brindle {

/// Receives files that the extension streams in Base64 chunks into a private staging folder,
/// verifies each finished upload against the size and chunk count declared for it, and keeps
/// track of it while the caller prepares and delivers it. Every staged file is the store's: it
/// deletes it on cancellation, on failure, and when the store goes away without the upload
/// having been completed. Calls must be serialised by the caller.
class DirectSaveUploadStore {
public:
    static constexpr std::int64_t maximumChunkBytes = 512 * 1024;
    static constexpr std::int64_t maximumUploadBytes = std::int64_t{8} * 1024 * 1024 * 1024;

    /// Prepares `directory` as the staging folder: created with mode 0700 when missing;
    /// otherwise it must be a folder (not a link) of the effective user and gets mode 0700.
    /// Throws `DirectSaveUploadError::invalidUpload` for anything else, and the file system's
    /// own error when the folder cannot be created or its mode set.
    explicit DirectSaveUploadStore(const std::string& directory);
    ~DirectSaveUploadStore();
    DirectSaveUploadStore(const DirectSaveUploadStore&) = delete;
    DirectSaveUploadStore& operator=(const DirectSaveUploadStore&) = delete;

    /// The staging folder, standardised.
    const std::string& rootURL() const { return rootURL_; }

    /// Opens a new upload under `requestID`, discarding any earlier one of that id.
    void begin(const std::string& requestID, const std::optional<std::string>& suggestedFilename);
    /// Writes chunk `chunkIndex`, which must be the next one; returns the bytes written so far.
    /// A refused chunk leaves the upload as it was; a failed write ends it.
    std::int64_t append(const std::string& requestID, std::int64_t chunkIndex,
                        std::string_view base64);
    /// Flushes and verifies the upload; returns the staged file. Asking again with the same
    /// counts returns the same file.
    std::string finish(const std::string& requestID, std::int64_t expectedBytes,
                       std::int64_t expectedChunks);
    /// Records that the finished upload now lives at `path` (a conversion gave it a new name): the
    /// store owns that file from now on as it owned the staged one.
    void replaceFile(const std::string& requestID, const std::string& path);
    /// Records that the finished upload is ready for delivery at `path`, as `replaceFile` does.
    void markPrepared(const std::string& requestID, const std::string& path);
    /// The file recorded by `markPrepared`, if any.
    std::optional<std::string> preparedURL(const std::string& requestID) const;
    /// Forgets the upload, deleting nothing: its file has been delivered.
    void complete(const std::string& requestID);
    /// Forgets the upload and deletes its staged or prepared file; an unknown id is no error.
    void cancel(const std::string& requestID) noexcept;

    /// Whether the store holds no upload at all.
    bool isEmpty() const { return sessions_.empty() && readyFiles_.empty(); }

    /// The staged and prepared files of every upload it holds.
    std::vector<std::string> files() const;

    /// Settles what hosts that died without cleaning up left (see the process journal in
    /// Platform/Processes.h), then removes the staged and prepared uploads that no running host
    /// holds. Only files with the name that `begin` gives and of the current user are removed: the
    /// folder may be shared with others. Once, right after the store is made.
    void removeAbandonedUploads() noexcept;

private:
    friend class DirectSaveUploadStoreTestAccess;

    struct Session {
        std::string url;
        platform::FileDescriptor handle;
        std::int64_t nextChunkIndex = 0;
        std::int64_t byteCount = 0;
    };

    struct ReadyFile {
        std::string url;
        std::int64_t byteCount = 0;
        std::int64_t chunkCount = 0;
        bool prepared = false;
    };

    std::string rootURL_;
    platform::Directory rootDescriptor_;
    std::unordered_map<std::string, Session> sessions_;
    std::unordered_map<std::string, ReadyFile> readyFiles_;
    std::string decodedChunk_; // kept between chunks to spare an allocation per chunk
};

} // namespace brindle
