#pragma once

#include "Support/CompanionBundle.h"

#include <filesystem>

namespace brindle::testing {

/// A save-panel bundle at `bundlePath` whose program runs `script` with /bin/sh: "$2" is the
/// request file and "$4" the response file it is given.
inline void makeSavePanelBundle(const std::string& bundlePath, const std::string& script) {
    writeInfoPropertyList(bundlePath + "/Contents", "com.vantle.brindle.save-ui");
    std::filesystem::create_directories(bundlePath + "/Contents/MacOS");
    writeFile(bundlePath + "/Contents/MacOS/brindle-save-ui", "#!/bin/sh\n" + script + "\n", 0755);
}

} // namespace brindle::testing
