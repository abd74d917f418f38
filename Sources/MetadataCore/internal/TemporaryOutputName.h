#pragma once

#include <string>

namespace brindle {

/// ".name.UUID.extension" for a file beside the one at `path`: hidden by its dot, and unique. A
/// long name is cut on a character boundary so that the whole still fits in one file name.
std::string temporaryOutputName(const std::string& path, const std::string& extension);

/// That name's path, noted in the process's journal for the file the caller is about to create.
std::string temporaryOutputPath(const std::string& path, const std::string& extension);

} // namespace brindle
