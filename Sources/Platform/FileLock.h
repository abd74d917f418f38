#pragma once

namespace brindle::platform {

/// A lock (flock) on an open file or folder, held until the object goes. Processes that take it
/// shared exclude only one that takes it exclusive, and the other way round; each waits for its
/// turn. Where the file system has no locks, nothing is held.
class FileLock {
public:
    enum class Kind { shared, exclusive };

    FileLock(int descriptor, Kind kind) noexcept;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int descriptor_;
};

} // namespace brindle::platform
