#include "Support/MediaTools.h"

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace brindle::testing {

void runTool(const std::string& tool, const std::vector<std::string>& arguments) {
    ProcessOptions options;
    options.arguments = arguments;
    const ProcessResult result = runProcess("/usr/bin/" + tool, "", options);
    ASSERT_EQ(result.exitStatus, 0) << tool << " failed: " << result.standardError;
}

void makeImage(const std::string& path, const std::string& source,
               const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"-hide_banner", "-loglevel", "error", "-y",        "-f",
                                          "lavfi",        "-i",        source,  "-frames:v", "1"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(path);
    runTool("ffmpeg", arguments);
}

std::string decodedRGBA(const std::string& path) {
    TemporaryDirectory scratch;
    const std::string raw = scratch.file("pixels.rgba");
    runTool("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-i", path, "-f", "rawvideo",
                       "-pix_fmt", "rgba", raw});
    return readFile(raw);
}

std::string decodedWebPRGBA(const std::string& path) {
    TemporaryDirectory scratch;
    const std::string pam = scratch.file("pixels.pam");
    runTool("dwebp", {"-quiet", "-pam", path, "-o", pam});
    // A PAM file is a text header ending in "ENDHDR\n", then the RGBA samples.
    const std::string contents = readFile(pam);
    const std::string headerEnd = "ENDHDR\n";
    const std::size_t end = contents.find(headerEnd);
    if (end == std::string::npos)
        return {};
    return contents.substr(end + headerEnd.size());
}

void ImageFolders::SetUp() {
    std::filesystem::create_directory(images);
    std::filesystem::create_directory(tools);
    std::filesystem::create_symlink("/usr/bin/cwebp", tools + "/cwebp");
    setenv("BRINDLE_TOOLS_DIR", tools.c_str(), 1);
}

void ImageFolders::TearDown() {
    unsetenv("BRINDLE_TOOLS_DIR");
}

std::string ImageFolders::makePNG(const std::string& name, const std::string& source) {
    makeImage(image(name), source, {"-f", "image2", "-c:v", "png"});
    return image(name);
}

void ImageFolders::installEncoder(const std::string& script) const {
    std::filesystem::remove(tools + "/cwebp");
    writeFile(tools + "/cwebp", "#!/bin/sh\n" + script + "\n", 0755);
}

} // namespace brindle::testing
