#pragma once

// Extended attributes: the macOS attributes this system keeps under "user." names, their copy
// from one file to another, and the freedesktop.org attributes file managers show.
//
// Errors: every call that can fail returns a `Result` holding the system's errno value (ENOTSUP
// where a file system holds no attributes; see `isOutOfAttributeRoom` for a full one); an
// attribute that is not there is no error but an empty `AttributeValue`. Nothing here throws.
//
// Symbolic links: attributes are read and written through open descriptors, so no link is
// involved; the one call that takes a path (`copyAttribute` to a path) does not follow a link
// there.

#include "Platform/Files.h"
#include "Platform/Result.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace brindle::platform {

//===--- Extended attributes ---===//

/// How many times a value that keeps changing while it is read is read again.
inline constexpr int attributeReadAttempts = 3;

/// Linux accepts only namespaced attribute names, so a macOS attribute keeps its bytes under
/// "user." followed by its own name; the data stays intact if the file travels to a Mac.
std::string storedAttributeName(std::string_view name);

/// An attribute's bytes; nothing when the file has no such attribute.
using AttributeValue = std::optional<std::string>;

/// Reads the attribute stored under the namespaced name `storedName` through an open descriptor:
/// its size first, then its bytes. A value that grows or goes in between is read again, up to
/// `attempts` reads in all, after which the error is ERANGE.
Result<AttributeValue> readStoredAttribute(DescriptorRef file, const std::string& storedName,
                                           int attempts = attributeReadAttempts);

/// `readStoredAttribute` of the macOS attribute `name`.
Result<AttributeValue> readAttribute(DescriptorRef file, std::string_view name);

/// The namespaced names of the attributes stored on the open file.
Result<std::vector<std::string>> storedAttributeNames(DescriptorRef file);

/// Creates or replaces the attribute stored under `storedName`.
Result<> setStoredAttribute(DescriptorRef file, const std::string& storedName,
                            std::string_view value);

/// `setStoredAttribute` of the macOS attribute `name`.
Result<> setAttribute(DescriptorRef file, std::string_view name, std::string_view value);

/// Removes the attribute stored under `storedName`; one that is not there counts as removed.
Result<> removeStoredAttribute(DescriptorRef file, const std::string& storedName);

/// `removeStoredAttribute` of the macOS attribute `name`.
Result<> removeAttribute(DescriptorRef file, std::string_view name);

/// Whether a failed write was refused for want of attribute room: ext4 (without `ea_inode`) gives
/// all of a file's attributes one block, and no value may exceed the kernel's limit.
bool isOutOfAttributeRoom(const std::error_code& error);

//===--- Attribute copy ---===//

/// The names under which this system stores the attributes a macOS program knows as
/// `macOSNames`: Linux allows only namespaced names, so "N" is kept as "user.N". Where a Mac
/// marks a download with quarantine and provenance, Chrome on Linux records the download's
/// origin and referrer; those travel along with them.
std::vector<std::string> carriedAttributeNames(std::span<const std::string_view> macOSNames);

/// Copies the extended attribute `name` from the open file `source` to the file at
/// `destinationPath` (a link there is not followed): true when it was copied, false when the
/// source has no such attribute or its file system cannot hold any. A value that changes between
/// reading its size and its bytes, or that cannot be written, is an error.
Result<bool> copyAttribute(const std::string& name, DescriptorRef source,
                           const std::string& destinationPath);

/// The same, to the open file `destination`.
Result<bool> copyAttribute(const std::string& name, DescriptorRef source,
                           DescriptorRef destination);

//===--- File manager attributes ---===//

// Linux file managers show the freedesktop.org attributes, not the macOS ones, so what the user
// should see is mirrored there. All of these work on an open descriptor.

/// The origin URL a file manager shows as where the file came from ("user.xdg.origin.url").
Result<> setFileManagerOriginURL(DescriptorRef file, std::string_view url);

/// The comment the user sees and edits in the file manager ("user.xdg.comment"), plain UTF-8.
Result<AttributeValue> fileManagerComment(DescriptorRef file);
Result<> setFileManagerComment(DescriptorRef file, std::string_view comment);
Result<> removeFileManagerComment(DescriptorRef file);

/// The file's tags ("user.xdg.tags": comma-separated, a "%" inside a name written as "%25" and
/// a comma as "%2C"); no names, no attribute.
Result<std::vector<std::string>> fileManagerTags(DescriptorRef file);
Result<> setFileManagerTags(DescriptorRef file, const std::vector<std::string>& names);

} // namespace brindle::platform
