#pragma once

#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brindle::testing {

/// Runs /usr/bin/`tool` with `arguments` and returns its standard output; fails the current test
/// unless it exits with 0.
std::string runTool(const std::string& tool, const std::vector<std::string>& arguments);

/// `text` `times` over.
inline std::string repeated(const std::string& text, std::size_t times) {
    return times == 0 ? "" : text + repeated(text, times - 1);
}

/// Writes one frame of an ffmpeg lavfi source (for example "testsrc=size=64x64") to `path`;
/// the container and codec follow from the extension unless `options` say otherwise.
void makeImage(const std::string& path, const std::string& source,
               const std::vector<std::string>& options = {});

/// Writes to `folder` an ffprobe stand-in that reads back any file as one video and one audio
/// stream, for a stand-in FFmpeg's output.
void writeStandInProbe(const std::string& folder);

/// A folder for images and a tools folder named by $BRINDLE_TOOLS_DIR (for this process and the
/// hosts it starts), whose "cwebp" is the real encoder until a test installs a stand-in.
class ImageFolders : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { unsetenv("BRINDLE_TOOLS_DIR"); }

    std::string image(const std::string& name) const { return images + "/" + name; }
    /// One PNG frame of the lavfi `source` at `image(name)`; flat colour areas by default, which
    /// lossless WebP makes much smaller.
    std::string makePNG(const std::string& name,
                        const std::string& source = "testsrc=size=128x96") {
        makeImage(image(name), source, {"-f", "image2", "-c:v", "png"});
        return image(name);
    }
    /// Replaces the encoder with a shell script; "$@" are the encoder's arguments, of which ${12}
    /// is the input and ${14} the output.
    void installEncoder(const std::string& script) const;

    TemporaryDirectory root;
    std::string images = root.file("images");
    std::string tools = root.file("tools");
};

} // namespace brindle::testing
