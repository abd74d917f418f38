#pragma once

#include <string>

namespace brindle::platform {

/// Asks the desktop's file manager to open a window with the entry at the absolute `path`
/// selected. Showing is best effort and reports nothing: without a session bus, or without a
/// file manager on it, nothing is shown. Never waits more than a couple of seconds.
void showItemsInFileManager(const std::string& path);

} // namespace brindle::platform
