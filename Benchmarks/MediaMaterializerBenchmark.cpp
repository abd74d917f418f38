// The host's own cost around a materialisation: a fresh host process materialises a 60-second
// 720p HLS stream from the loopback address ("materializeDownload": start-up, playlist fetch,
// FFmpeg, reading the result back, swap, tagging, reply), against running the same FFmpeg command
// by hand, alternately in the same run. Prints the medians, the overhead against its allowance (5%
// plus 50 ms), and the host's own peak resident memory (FFmpeg's not included) against 8 MiB.

#include "MediaMaterializerSteps.h"
#include "MetadataCore/NativeMessageFrame.h"
#include "Platform/Files.h"
#include "Platform/Processes.h"
#include "Support/LoopbackHTTPServer.h"
#include "Support/TemporaryDirectory.h"

#include <boost/json/serialize.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;
using namespace brindle;
using Clock = std::chrono::steady_clock;

constexpr int rounds = 7;

struct Run {
    double seconds = 0;
    long peakKiB = 0;     // the process's own peak resident memory, its children's excluded
    long peakAnonKiB = 0; // of which private anonymous memory (the libraries' pages not counted)
};

// Samples a running process's memory.
void sampleMemory(pid_t pid, Run& run) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            run.peakKiB = std::max(run.peakKiB, std::stol(line.substr(6)));
        if (line.starts_with("RssAnon:"))
            run.peakAnonKiB = std::max(run.peakAnonKiB, std::stol(line.substr(8)));
    }
}

// Runs `program` with its standard streams on files; fails unless it exits with 0.
Run run(const std::string& program, const std::vector<std::string>& arguments,
        const std::string& input, const std::string& output) {
    const platform::FileDescriptor in(open(input.c_str(), O_RDONLY | O_CLOEXEC));
    const platform::FileDescriptor out(
        open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    platform::ChildProcessLaunch launch;
    launch.program = program;
    launch.arguments = arguments;
    launch.standardInput = platform::ChildStream::descriptor(in);
    launch.standardOutput = platform::ChildStream::descriptor(out);
    const Clock::time_point start = Clock::now();
    auto child = platform::ChildProcess::spawn(launch);
    if (!child)
        throw std::runtime_error("cannot start " + program);
    Run result;
    std::optional<platform::ChildExit> exit;
    while (!(exit = child->waitForExit(std::chrono::milliseconds(2))))
        sampleMemory(child->processIdentifier(), result);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!exit->succeeded())
        throw std::runtime_error(program + " failed");
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main() {
    testing::TemporaryDirectory root;
    const std::string streams = root.file("streams");
    fs::create_directories(streams + "/720p");
    std::fprintf(stderr, "making a 60-second 720p HLS stream...\n");
    run("/usr/bin/ffmpeg",
        {"-hide_banner",
         "-loglevel",
         "error",
         "-y",
         "-f",
         "lavfi",
         "-i",
         "testsrc2=size=1280x720:rate=30:duration=60",
         "-f",
         "lavfi",
         "-i",
         "sine=frequency=440:sample_rate=48000:duration=60",
         "-c:v",
         "libx264",
         "-preset",
         "ultrafast",
         "-b:v",
         "3M",
         "-g",
         "60",
         "-c:a",
         "aac",
         "-f",
         "hls",
         "-hls_time",
         "6",
         "-hls_playlist_type",
         "vod",
         "-hls_segment_filename",
         streams + "/720p/s%02d.ts",
         streams + "/720p/index.m3u8"},
        "/dev/null", root.file("make.log"));
    testing::writeFile(streams + "/master.m3u8",
                       "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=3200000,RESOLUTION=1280x720\n"
                       "720p/index.m3u8\n");
    testing::LoopbackHTTPServer server;
    server.serveFolder(streams);

    fs::create_directory(root.file("tools"));
    for (const std::string tool : {"ffmpeg", "ffprobe"})
        fs::create_symlink("/usr/bin/" + tool, root.file("tools/" + tool));
    setenv("BRINDLE_TOOLS_DIR", root.file("tools").c_str(), 1);
    const std::string placeholder = root.file("movie.mp4");
    testing::writeFile(root.file("request"),
                       nativeMessageFrame::encode(boost::json::serialize(
                           boost::json::object{{"action", "materializeDownload"},
                                               {"path", placeholder},
                                               {"manifestUrl", server.url("/master.m3u8")},
                                               {"mediaKind", "video"},
                                               {"pageUrl", "https://example.com/watch"}})));
    // What the host runs, learned here beforehand so that the manual runs pay nothing for it.
    const std::vector<std::string> manual = mediaMaterialization::ffmpegArguments(
        mediaMaterialization::hlsArguments(
            mediaMaterialization::reconnectOptions(root.file("tools/ffmpeg")),
            {server.url("/720p/index.m3u8"), std::nullopt}, "video"),
        root.file(".manual.mp4"));

    std::vector<double> host;
    std::vector<double> byHand;
    std::vector<double> optionQuery; // what the host asks FFmpeg once per process
    Run hostPeak;
    for (int round = 0; round < rounds; ++round) {
        testing::writeFile(placeholder, "placeholder");
        const Run hostRun = run(BRINDLE_HOST_PATH, {}, root.file("request"), root.file("reply"));
        if (testing::readFile(root.file("reply")).find("\"materialized\":true") ==
            std::string::npos)
            throw std::runtime_error("host failed: " + testing::readFile(root.file("reply")));
        host.push_back(hostRun.seconds);
        hostPeak.peakKiB = std::max(hostPeak.peakKiB, hostRun.peakKiB);
        hostPeak.peakAnonKiB = std::max(hostPeak.peakAnonKiB, hostRun.peakAnonKiB);
        byHand.push_back(
            run(root.file("tools/ffmpeg"), manual, "/dev/null", root.file("manual.log")).seconds);
        fs::remove(root.file(".manual.mp4"));
        optionQuery.push_back(run(root.file("tools/ffmpeg"),
                                  {"-hide_banner", "-h", "protocol=http"}, "/dev/null",
                                  root.file("help.log"))
                                  .seconds);
    }

    const double hand = median(byHand);
    const double overhead = median(host) - hand;
    const double allowance = 0.05 * hand + 0.050;
    std::printf("output %.1f MB, %d rounds\n",
                static_cast<double>(fs::file_size(placeholder)) / 1e6, rounds);
    std::printf("ffmpeg by hand   median %7.1f ms\n", hand * 1000);
    std::printf("through the host median %7.1f ms\n", median(host) * 1000);
    std::printf("FFmpeg's option query alone, by hand: median %.1f ms\n",
                median(optionQuery) * 1000);
    std::printf("host overhead %.1f ms, allowance %.1f ms: %s\n", overhead * 1000, allowance * 1000,
                overhead <= allowance ? "within" : "OVER");
    std::printf("host's own peak resident memory %.2f MiB (limit 8): %s; private anonymous "
                "%.2f MiB\n",
                static_cast<double>(hostPeak.peakKiB) / 1024.0,
                hostPeak.peakKiB < 8 * 1024 ? "within" : "OVER",
                static_cast<double>(hostPeak.peakAnonKiB) / 1024.0);
    return 0;
}
