#include "Support/MediaTools.h"

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

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

std::string decodedRGBA(const std::string& path, const std::string& format) {
    return runTool("ffmpeg", {"-hide_banner", "-loglevel", "error", "-f", format, "-i", path, "-f",
                              "rawvideo", "-pix_fmt", "rgba", "-"});
}

void makeStreamingFixtures(const std::string& folder) {
    for (const char* name : {"v360", "v180", "a22", "a44", "dash"})
        std::filesystem::create_directories(folder + "/" + name);
    // One run writes every output; options before an output apply to it alone.
    std::vector<std::string> arguments;
    const auto add = [&](const std::string& words) {
        std::istringstream split(words);
        for (std::string word; split >> word;)
            arguments.push_back(word);
    };
    const std::string h264 = " -c:v libx264 -preset ultrafast -g 25";
    const auto hls = [&](const std::string& name) {
        return " -f hls -hls_playlist_type vod -hls_segment_filename " + folder + "/" + name +
               "/s%d.ts " + folder + "/" + name + "/index.m3u8";
    };
    add("-hide_banner -loglevel error -y -f lavfi -i testsrc=size=640x360:rate=25:duration=1 "
        "-f lavfi -i sine=sample_rate=44100:duration=1 -map 0:v" +
        h264 + hls("v360") + " -map 0:v -s 320x180" + h264 + hls("v180") + " -map 1:a -ar 22050" +
        hls("a22") + " -map 1:a" + hls("a44") + " -map 0:v -map 0:v -map 1:a -s:v:0 320x180" +
        h264 + " -adaptation_sets");
    arguments.push_back("id=0,streams=v id=1,streams=a");
    add(folder + "/dash/manifest.mpd -map 0:v -movflags +faststart" + h264 + " " + folder +
        "/video.mp4 -map 1:a -movflags +faststart " + folder + "/audio.m4a -map 0:v -map 1:a " +
        h264 + " -qp 0 " + folder + "/late.mp4");
    runTool("ffmpeg", arguments);
    writeFile(
        folder + "/master.m3u8",
        "#EXTM3U\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",DEFAULT=NO,URI=\"a22/index.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",DEFAULT=YES,URI=\"a44/index.m3u8\"\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=320x180,AUDIO=\"aud\"\nv180/index.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=900000,RESOLUTION=640x360,AUDIO=\"aud\"\nv360/index.m3u8\n");
}

void writeStandInProbe(const std::string& folder) {
    writeFile(folder + "/ffprobe",
              "#!/bin/sh\necho '{\"streams\":[{\"index\":0,\"codec_type\":\"video\",\"nb_frames\":"
              "\"1\"},{\"index\":1,\"codec_type\":\"audio\",\"nb_frames\":\"1\"}]}'\n",
              0755);
}

std::string probeMedia(const std::string& path) {
    return runTool("ffprobe", {"-v", "error", "-show_entries",
                               "format=format_name:stream=codec_type,width,height,sample_rate",
                               "-of", "compact=p=0:nk=1", path});
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
