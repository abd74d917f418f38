#pragma once

#include <string>
#include <string_view>

namespace brindle {

/// ".name.UUID.extension" for a file beside the one at `path`: hidden by its dot, and unique. A
/// long name is cut on a character boundary so that the whole still fits in one file name.
std::string temporaryOutputName(const std::string& path, const std::string& extension);

/// Whether `name` is one that this system gives its temporaries outside the private folder:
/// ".brindle-..." for a move's copy and a tool's log, ".NAME.UUID.EXT" beside a converted or
/// merged file. What a dead host's journal names is removed only under such a name.
bool isTemporaryName(std::string_view name);

} // namespace brindle
