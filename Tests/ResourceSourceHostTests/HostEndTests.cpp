// How the built host ends. Asked to by a signal, with Chrome's pipes closed first or left open,
// it ends as at the end of its input; killed outright, the next host to start settles what it
// left. Real processes, files on ext4 and tmpfs.

#include "ResourceSourceHost/NativeMessaging.h"
#include "Support/HostProcess.h"
#include "Support/MediaTools.h"
#include "Support/SavePanelStandIn.h"

#include <boost/beast/core/detail/base64.hpp>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <thread>

namespace brindle::testing {
namespace {

namespace fs = std::filesystem;
using boost::json::object;

bool eventually(const std::function<bool()>& condition) {
    for (int attempt = 0; attempt < 1000 && !condition(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

class HostEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (statusOf("/dev/shm").st_dev == statusOf(root.path()).st_dev)
            GTEST_SKIP() << "/dev/shm and the temporary folder are not two file systems here";
        for (const std::string& folder : {tools, images, scratch})
            fs::create_directory(folder);
        makeImage(image("a.png"), "testsrc=size=1280x960", {"-f", "image2", "-c:v", "png"});
        writeFile(image("clip.mp4"), "placeholder");
        source = shm.file("big.bin");
        options.environment = {{"BRINDLE_DIRECT_SAVE_DIR", staging},
                               {"BRINDLE_TOOLS_DIR", tools},
                               {"TMPDIR", scratch},
                               {"XDG_CACHE_HOME", root.file("cache")},
                               {"BRINDLE_SAVE_UI_APP", root.file("Panel.app")}};
    }

    std::string image(const std::string& name) const { return images + "/" + name; }
    void installTool(const std::string& name, const std::string& script) const {
        fs::remove(tools + "/" + name);
        writeFile(tools + "/" + name, "#!/bin/sh\n" + script + "\n", 0755);
    }
    void writeSource(size_t mebibytes) const {
        std::ofstream file(source, std::ios::binary);
        for (size_t index = 0; index < mebibytes; ++index)
            file << std::string(1 << 20, char('a' + index % 26));
    }
    object move() const {
        return {{"action", "moveDownload"}, {"path", source}, {"destinationDirectory", images}};
    }
    // Nothing hidden or staged is left, in the user's folder, the private one or /tmp.
    void expectNothingLeft(const std::string& context) const {
        for (const std::string& name : entries(images))
            EXPECT_FALSE(name.starts_with('.')) << context << name;
        for (const std::string& folder : {staging, scratch, root.file("SavePanel/PanelRequests")})
            EXPECT_TRUE(!exists(folder) || entries(folder).empty()) << context << folder;
    }

    TemporaryDirectory root;
    TemporaryDirectory shm{"/dev/shm"};
    std::string tools = root.file("tools"), images = root.file("images");
    std::string scratch = root.file("tmp"), staging = root.file("in"), started = root.file("pid");
    std::string source;
    ProcessOptions options;
};

TEST_F(HostEnd, SignalEndsTheStepUnderWayAndRemovesWhatItMade) {
    const std::string park = "echo $$ > " + started + "\n";
    installTool("cwebp", park + "printf RIFF > \"${14}\"\nexec sleep 600");
    installTool("ffmpeg", "[ \"$2\" = -h ] && exit 0\n" + park +
                              "eval \"out=\\${$#}\"\nprintf half > \"$out\"\nexec sleep 600");
    makeSavePanelBundle(root.file("Panel.app"), park + "exec sleep 600");
    const std::string png = readFile(image("a.png"));
    const auto hasPid = [&] { return exists(started) && !readFile(started).empty(); };
    const auto staged = [&] { return exists(staging) && entries(staging).size() == 2; };
    const auto copying = [&] { return entries(images).size() == 3; };
    const struct {
        std::vector<object> requests;
        std::function<bool()> isUnderWay;
    } steps[] = {
        {{{{"action", "optimizeImage"}, {"path", image("a.png")}}}, hasPid},
        {{{{"action", "materializeDownload"},
           {"path", image("clip.mp4")},
           {"mediaUrl", "https://cdn.example/v.mp4"},
           {"mediaKind", "video"}}},
         hasPid},
        {{{{"action", "beginDirectSaveUpload"}, {"requestId", "u"}},
          {{"action", "appendDirectSaveUpload"},
           {"requestId", "u"},
           {"chunkIndex", 0},
           {"data", "QUJD"}}},
         staged},
        {{move()}, copying},
        {{{{"action", "chooseSaveDestination"}, {"suggestedFilename", "a.png"}}}, hasPid},
    };
    writeSource(300);
    int signals[] = {SIGTERM, SIGINT, SIGHUP};
    int round = 0;
    for (const bool closePipes : {true, false}) {
        for (const auto& step : steps) {
            const std::string context = std::to_string(round) + " " + (closePipes ? "closed " : "");
            int input[2], output[2];
            ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
            ASSERT_EQ(pipe2(output, O_CLOEXEC), 0);
            platform::FileDescriptor toHost(input[1]), fromHost(output[0]);
            auto host = startHost(input[0], output[1], options);
            close(input[0]);
            close(output[1]);
            for (const object& request : step.requests)
                writeAll(frameJSON(request), toHost.get());
            ASSERT_TRUE(eventually(step.isUnderWay)) << context;
            if (closePipes) {
                toHost.close();
                fromHost.close();
            }
            kill(host.processIdentifier(), signals[round++ % 3]);
            EXPECT_EQ(host.waitForExit().exitCode, 0) << context;
            if (exists(started)) {
                EXPECT_NE(kill(std::stoi(readFile(started)), 0), 0) << context << "child lives";
                fs::remove(started);
            }
            expectNothingLeft(context);
            EXPECT_EQ(entries(images), (std::vector<std::string>{"a.png", "clip.mp4"})) << context;
            EXPECT_EQ(readFile(image("a.png")), png);
            EXPECT_EQ(readFile(image("clip.mp4")), "placeholder");
            EXPECT_EQ(fs::file_size(source), 300u << 20) << context;
        }
    }
}

// Killed at fixed points of each step, then a fresh host started: the user's folder holds the old
// state or the complete new file.
TEST_F(HostEnd, KilledHostLeavesTheOldStateOrTheWholeNewFile) {
    fs::create_symlink("/usr/bin/cwebp", tools + "/cwebp");
    std::string media;
    for (int piece = 0; piece < 40; ++piece)
        media += "0123456789";
    installTool("ffmpeg", "[ \"$2\" = -h ] && exit 0\neval \"out=\\${$#}\"\nfor i in $(seq 40); do "
                          "printf 0123456789 >> \"$out\"; sleep 0.01; done");
    staging = shm.file("in");
    options.environment["BRINDLE_DIRECT_SAVE_DIR"] = staging;
    writeSource(64);
    const std::string bytes = readFile(source), png = readFile(image("a.png"));
    namespace base64 = boost::beast::detail::base64;
    std::string upload = frameJSON({{"action", "beginDirectSaveUpload"}, {"requestId", "k"}});
    for (size_t offset = 0; offset < bytes.size(); offset += 524288) {
        std::string text(base64::encoded_size(524288), '\0');
        text.resize(base64::encode(text.data(), bytes.data() + offset, 524288));
        upload += frameJSON({{"action", "appendDirectSaveUpload"},
                             {"requestId", "k"},
                             {"chunkIndex", offset / 524288},
                             {"data", text}});
    }
    upload += frameJSON({{"action", "commitDirectSaveUpload"},
                         {"requestId", "k"},
                         {"totalBytes", bytes.size()},
                         {"chunkCount", bytes.size() / 524288},
                         {"destinationDirectory", images},
                         {"destinationFilename", "big.bin"},
                         {"resourceUrl", "https://example.com/big.bin"}});
    const auto isWholeWebP = [&](const std::string& path) {
        const std::string webp = exists(path) ? readFile(path) : std::string(12, '\0');
        uint32_t riffSize = 0;
        std::memcpy(&riffSize, &webp[4], 4);
        return webp.substr(8, 4) == "WEBP" && riffSize + 8 == webp.size();
    };
    const auto bigIsOldOrNew = [&] {
        return exists(image("big.bin")) ? readFile(image("big.bin")) == bytes
                                        : readFile(source) == bytes;
    };
    const struct {
        std::string requests;
        std::function<bool()> isOldOrNew;
    } steps[] = {
        {upload, bigIsOldOrNew},
        {frameJSON({{"action", "optimizeImage"}, {"path", image("a.png")}}),
         [&] {
             return exists(image("a.png"))
                        ? readFile(image("a.png")) == png && !exists(image("a.webp"))
                        : isWholeWebP(image("a.webp"));
         }},
        {frameJSON({{"action", "materializeDownload"},
                    {"path", image("clip.mp4")},
                    {"mediaUrl", "https://cdn.example/v.mp4"},
                    {"mediaKind", "video"}}),
         [&] {
             const std::string clip = readFile(image("clip.mp4"));
             return clip == "placeholder" || clip == media;
         }},
        {frameJSON(move()), bigIsOldOrNew},
    };
    for (const auto& step : steps) {
        writeFile(root.file("requests"), step.requests);
        for (const int milliseconds : {20, 90, 200, 350, 600, 900}) {
            const std::string context = std::to_string(milliseconds) + " ms ";
            const platform::FileDescriptor input(open(root.file("requests").c_str(), O_RDONLY));
            const platform::FileDescriptor output(open("/dev/null", O_WRONLY));
            auto host = startHost(input.get(), output.get(), options);
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            kill(host.processIdentifier(), SIGKILL);
            host.waitForExit();
            // A ping does no work and settles nothing; any other request does.
            EXPECT_EQ(
                exchange({{{"action", "cancelDirectSaveUpload"}, {"requestId", "-"}}}, options)
                    .size(),
                1u);
            EXPECT_TRUE(step.isOldOrNew()) << context << step.requests.substr(4, 40);
            expectNothingLeft(context);
            // Back to the old state for the next point.
            for (const char* name : {"big.bin", "a.webp"})
                fs::remove(image(name));
            writeFile(image("a.png"), png);
            writeFile(image("clip.mp4"), "placeholder");
            if (!exists(source))
                writeSource(64);
        }
    }
}

// Only a journal whose lock is free is settled, and only temporaries are removed, whatever it says;
// an upload that a living host's journal names stays, one that no journal names goes.
TEST_F(HostEnd, StartUpSettlesOnlyWhatDeadHostsLeft) {
    fs::create_directory(staging);
    const std::string temporary = image(".a.png.0123ABCD-0123-4567-89AB-0123456789AB.webp");
    for (const std::string& path : {temporary, image(".keep"), staging + "/old-1.png",
                                    staging + "/live-2.png", staging + "/live-2.webp"})
        writeFile(path, "x");
    const auto note = [](const std::string& path) {
        return std::string("t\0", 2) + path + '\0' + '\0';
    };
    writeFile(staging + "/_journal-dead", note(image(".keep")) + note(temporary));
    writeFile(staging + "/_journal-live", note(staging + "/live-2.png"));
    const platform::FileDescriptor living(open((staging + "/_journal-live").c_str(), O_RDONLY));
    ASSERT_EQ(flock(living.get(), LOCK_EX), 0);
    EXPECT_EQ(
        exchange({{{"action", "cancelDirectSaveUpload"}, {"requestId", "-"}}}, options).size(), 1u);
    EXPECT_EQ(entries(staging),
              (std::vector<std::string>{"_journal-live", "live-2.png", "live-2.webp"}));
    EXPECT_EQ(entries(images), (std::vector<std::string>{".keep", "a.png", "clip.mp4"}));
}

} // namespace
} // namespace brindle::testing
