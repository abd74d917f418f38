#pragma once

#include <string>

namespace brindle {

/// ".name.UUID.extension" beside the file at `path`: hidden by its dot, and unique. A long name
/// is cut on a character boundary so that the whole still fits in one file name. The path is
/// noted in the process's journal, for the file that the caller is about to create there.
std::string temporaryOutputPath(const std::string& path, const std::string& extension);

} // namespace brindle
