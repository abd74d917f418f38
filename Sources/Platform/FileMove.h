#pragma once

#include "Platform/Result.h"

#include <string>

namespace brindle::platform {

// Moves of a user's file by path. Across file systems the file
// is copied (contents, mode, times and extended attributes) into a hidden temporary file in the
// destination folder, flushed to storage, renamed into place, and only then is the source
// removed: the final name never holds half a file, and a failure leaves the source as it was.
// A source that cannot be removed fails the move with its error, after the copy has been taken
// back out and any file that it replaced put back. Attributes that the destination has no room
// for are left behind, those that say where a download came from being copied first.

/// Moves `source` to `destination` without ever replacing anything there: EEXIST when a file
/// is (or appears meanwhile) at `destination`, and the source is left where it was.
Result<> moveItemWithoutReplacing(const std::string& source, const std::string& destination);

/// Moves `source` over the file at `destination`, which it replaces in one step.
Result<> replaceItem(const std::string& source, const std::string& destination);

} // namespace brindle::platform
