#pragma once

#include "Platform/ExtendedAttributes.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindle::platform {

// Linux file managers show the freedesktop.org attributes, not the macOS ones, so what the user
// should see is mirrored there. All of these work on an open descriptor.

/// The origin URL a file manager shows as where the file came from ("user.xdg.origin.url").
Result<> setFileManagerOriginURL(int descriptor, std::string_view url);

/// The comment the user sees and edits in the file manager ("user.xdg.comment"), plain UTF-8.
Result<AttributeValue> fileManagerComment(int descriptor);
Result<> setFileManagerComment(int descriptor, std::string_view comment);
Result<> removeFileManagerComment(int descriptor);

/// The file's tags ("user.xdg.tags": comma-separated, a "%" inside a name written as "%25" and
/// a comma as "%2C"); no names, no attribute.
Result<std::vector<std::string>> fileManagerTags(int descriptor);
Result<> setFileManagerTags(int descriptor, const std::vector<std::string>& names);

} // namespace brindle::platform
