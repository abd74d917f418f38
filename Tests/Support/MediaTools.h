#pragma once

#include <string>
#include <vector>

namespace brindle::testing {

/// Runs /usr/bin/`tool` with `arguments` and fails the current test unless it exits with 0.
void runTool(const std::string& tool, const std::vector<std::string>& arguments);

/// Writes one frame of an ffmpeg lavfi source (for example "testsrc=size=64x64") to `path`;
/// the container and codec follow from the extension unless `options` say otherwise.
void makeImage(const std::string& path, const std::string& source,
               const std::vector<std::string>& options = {});

/// Decodes any image ffmpeg reads into raw 8-bit RGBA pixels (straight alpha).
std::string decodedRGBA(const std::string& path);

/// Decodes a WebP file with dwebp into raw 8-bit RGBA pixels.
std::string decodedWebPRGBA(const std::string& path);

} // namespace brindle::testing
