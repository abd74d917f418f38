#pragma once

#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <string>

namespace brindle::testing {

/// A save-panel bundle at `bundlePath` whose program runs `script` with /bin/sh: "$2" is the
/// request file and "$4" the response file it is given.
inline void makeSavePanelBundle(const std::string& bundlePath, const std::string& script) {
    std::filesystem::create_directories(bundlePath + "/Contents/MacOS");
    writeFile(bundlePath + "/Contents/Info.plist",
              R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
              "<key>CFBundleIdentifier</key><string>com.vantle.brindle.save-ui</string>"
              "</dict></plist>\n");
    writeFile(bundlePath + "/Contents/MacOS/brindle-save-ui", "#!/bin/sh\n" + script + "\n", 0755);
}

} // namespace brindle::testing
