#include "Support/MediaTools.h"

#include "Support/HostProcess.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/array.hpp>
#include <boost/json/parse.hpp>
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

void makeStreamingFixtures(const std::string& folder) {
    std::vector<std::string> arguments = {
        "-hide_banner", "-loglevel", "error", "-y",
        "-f",           "lavfi",     "-i",    "testsrc=size=640x360:rate=25:duration=1",
        "-f",           "lavfi",     "-i",    "sine=sample_rate=44100:duration=1"};
    const std::vector<std::string> h264 = {"-c:v", "libx264", "-preset", "ultrafast", "-g", "25"};
    const auto add = [&](std::vector<std::string> options, const std::string& output) {
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(folder + "/" + output);
    };
    for (const std::string name : {"v360", "v180", "a22", "a44"}) {
        std::filesystem::create_directories(folder + "/" + name);
        std::vector<std::string> options = {"-map", name[0] == 'v' ? "0:v" : "1:a"};
        if (name[0] == 'v')
            options.insert(options.end(), h264.begin(), h264.end());
        if (name == "v180" || name == "a22")
            options.insert(options.end(),
                           {name == "v180" ? "-s" : "-ar", name == "v180" ? "320x180" : "22050"});
        options.insert(options.end(), {"-f", "hls", "-hls_playlist_type", "vod",
                                       "-hls_segment_filename", folder + "/" + name + "/s%d.ts"});
        add(options, name + "/index.m3u8");
    }
    std::filesystem::create_directories(folder + "/dash");
    std::vector<std::string> dash = {"-map",
                                     "0:v",
                                     "-map",
                                     "0:v",
                                     "-map",
                                     "1:a",
                                     "-s:v:0",
                                     "320x180",
                                     "-f",
                                     "dash",
                                     "-adaptation_sets",
                                     "id=0,streams=v id=1,streams=a"};
    dash.insert(dash.begin() + 6, h264.begin(), h264.end());
    add(dash, "dash/manifest.mpd");
    std::vector<std::string> video = {"-map", "0:v", "-movflags", "+faststart"};
    video.insert(video.end(), h264.begin(), h264.end());
    add(video, "video.mp4");
    add({"-map", "1:a", "-movflags", "+faststart"}, "audio.m4a");
    runTool("ffmpeg", arguments);
    writeFile(
        folder + "/master.m3u8",
        "#EXTM3U\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",DEFAULT=NO,URI=\"a22/index.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",DEFAULT=YES,URI=\"a44/index.m3u8\"\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=320x180,AUDIO=\"aud\"\nv180/index.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=900000,RESOLUTION=640x360,AUDIO=\"aud\"\nv360/index.m3u8\n");
}

boost::json::object probeMedia(const std::string& path) {
    ProcessOptions options;
    options.arguments = {"-v",
                         "error",
                         "-show_entries",
                         "format=format_name:stream=codec_type,width,height,sample_rate",
                         "-of",
                         "json",
                         path};
    const ProcessResult result = runProcess("/usr/bin/ffprobe", "", options);
    const boost::json::value probe = boost::json::parse(result.standardOutput);
    boost::json::array streams;
    for (const auto& stream : probe.at("streams").as_array()) {
        const auto& fields = stream.as_object();
        const bool video = fields.at("codec_type") == "video";
        streams.emplace_back(std::string(fields.at("codec_type").as_string()) + " " +
                             (video ? std::to_string(fields.at("width").as_int64()) + "x" +
                                          std::to_string(fields.at("height").as_int64())
                                    : std::string(fields.at("sample_rate").as_string())));
    }
    return {{"format", probe.at("format").at("format_name")}, {"streams", streams}};
}

} // namespace brindle::testing
