#include "Support/MediaTools.h"

#include "Support/HostProcess.h"

#include <filesystem>

namespace brindle::testing {

std::string runTool(const std::string& tool, const std::vector<std::string>& arguments) {
    const ProcessResult result = runProcess("/usr/bin/" + tool, "", {arguments, {}});
    EXPECT_EQ(result.exitStatus, 0) << tool << " failed: " << result.standardError;
    return result.standardOutput;
}

void makeImage(const std::string& path, const std::string& source,
               const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"-hide_banner", "-loglevel", "error", "-y",        "-f",
                                          "lavfi",        "-i",        source,  "-frames:v", "1"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(path);
    runTool("ffmpeg", arguments);
}

void writeStandInProbe(const std::string& folder) {
    writeFile(folder + "/ffprobe",
              "#!/bin/sh\necho '{\"streams\":[{\"index\":0,\"codec_type\":\"video\",\"nb_frames\":"
              "\"1\"},{\"index\":1,\"codec_type\":\"audio\",\"nb_frames\":\"1\"}]}'\n",
              0755);
}

void ImageFolders::SetUp() {
    std::filesystem::create_directory(images);
    std::filesystem::create_directory(tools);
    std::filesystem::create_symlink("/usr/bin/cwebp", tools + "/cwebp");
    setenv("BRINDLE_TOOLS_DIR", tools.c_str(), 1);
}

void ImageFolders::installEncoder(const std::string& script) const {
    std::filesystem::remove(tools + "/cwebp");
    writeFile(tools + "/cwebp", "#!/bin/sh\n" + script + "\n", 0755);
}

} // namespace brindle::testing
