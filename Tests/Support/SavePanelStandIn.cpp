#include "Support/SavePanelStandIn.h"

#include "Support/TemporaryDirectory.h"

#include <filesystem>

namespace brindle::testing {

void makeSavePanelBundle(const std::string& bundlePath, const std::string& script,
                         const std::string& identifier, const std::string& executable) {
    std::filesystem::create_directories(bundlePath + "/Contents/MacOS");
    writeFile(bundlePath + "/Contents/Info.plist",
              R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>)" +
                  identifier + "</string></dict></plist>\n");
    writeFile(bundlePath + "/Contents/MacOS/" + executable, "#!/bin/sh\n" + script + "\n", 0755);
}

} // namespace brindle::testing
