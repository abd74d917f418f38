#pragma once

#include "Platform/Result.h"

#include <string>
#include <vector>

namespace brindle::platform {

/// The names of the entries in the folder at `path` (one level, hidden ones included, without
/// "." and ".."), in no particular order.
Result<std::vector<std::string>> directoryEntryNames(const std::string& path);

/// Whether the folder at `path` tells names apart that differ only in letter case. FAT, exFAT,
/// NTFS, HFS+ and SMB shares do not, nor does a folder with the case-folding flag (ext4 and
/// others); every other file system does.
Result<bool> directoryDistinguishesCase(const std::string& path);

} // namespace brindle::platform
