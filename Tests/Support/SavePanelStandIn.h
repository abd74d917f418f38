#pragma once

#include <string>

namespace brindle::testing {

/// A save-panel bundle at `bundlePath` whose program runs `script` with /bin/sh: "$2" is the
/// request file and "$4" the response file it is given.
void makeSavePanelBundle(const std::string& bundlePath, const std::string& script,
                         const std::string& identifier = "com.vantle.brindle.save-ui",
                         const std::string& executable = "brindle-save-ui");

} // namespace brindle::testing
