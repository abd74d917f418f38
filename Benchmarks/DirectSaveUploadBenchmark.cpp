// A streamed upload through a fresh host, from a file of framed messages (begin, 512 KiB chunks,
// commit), against copying the same framed stream through a pipe into a file with fsync. The
// two alternate, so both see the same state of the disk. Usage: DirectSaveUploadBenchmark [MiB
// [rounds]]

#include "MetadataCore/NativeMessageFrame.h"
#include "Platform/Files.h"
#include "Platform/Processes.h"

#include <boost/beast/core/detail/base64.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
constexpr size_t chunkBytes = 512 * 1024;

void writeFrames(const std::string& path, long mebibytes, const std::string& folder) {
    std::string chunk(chunkBytes, '\0');
    std::mt19937 random(5);
    for (char& byte : chunk)
        byte = static_cast<char>(random());
    namespace base64 = boost::beast::detail::base64;
    std::string text(base64::encoded_size(chunk.size()), '\0');
    text.resize(base64::encode(text.data(), chunk.data(), chunk.size()));

    std::ofstream out(path, std::ios::binary);
    const auto write = [&](const boost::json::object& message) {
        out << brindle::nativeMessageFrame::encode(boost::json::serialize(message));
    };
    const long chunks = mebibytes * 2;
    write({{"action", "beginDirectSaveUpload"}, {"requestId", "bench"}});
    for (long index = 0; index < chunks; ++index)
        write({{"action", "appendDirectSaveUpload"},
               {"requestId", "bench"},
               {"chunkIndex", index},
               {"data", text}});
    write({{"action", "commitDirectSaveUpload"},
           {"requestId", "bench"},
           {"totalBytes", chunks * static_cast<long>(chunkBytes)},
           {"chunkCount", chunks},
           {"destinationDirectory", folder},
           {"destinationFilename", "upload.bin"},
           {"resourceUrl", "https://example.com/upload.bin"},
           {"overwrite", true}});
}

struct Run {
    double seconds = 0;
    long peakResidentKiB = 0;
};

// Runs `arguments` with standard input from `input` and output to /dev/null.
Run run(const std::vector<std::string>& arguments, const std::string& input) {
    const brindle::platform::FileDescriptor from(open(input.c_str(), O_RDONLY | O_CLOEXEC));
    brindle::platform::ChildProcessLaunch launch;
    launch.program = arguments.front();
    launch.arguments.assign(arguments.begin() + 1, arguments.end());
    launch.standardInput = brindle::platform::ChildStream::descriptor(from);
    launch.standardOutput = brindle::platform::ChildStream::nullDevice();
    const auto start = std::chrono::steady_clock::now();
    auto child = brindle::platform::ChildProcess::spawn(launch);
    if (!child)
        std::exit(1);
    const brindle::platform::ChildExit exit = child->waitForExit();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            exit.peakResidentKiB};
}

} // namespace

int main(int argc, char** argv) {
    const long mebibytes = argc > 1 ? std::atol(argv[1]) : 256;
    const fs::path root =
        fs::temp_directory_path() / ("brindle-upload-bench-" + std::to_string(getpid()));
    fs::create_directories(root / "dest");
    const std::string frames = (root / "frames").string();
    writeFrames(frames, mebibytes, (root / "dest").string());
    setenv("BRINDLE_DIRECT_SAVE_DIR", (root / "incoming").c_str(), 1);
    const std::string copy =
        "cat | dd of=" + (root / "copy").string() + " bs=1M conv=fsync status=none";
    std::printf("%ld MiB upload: host s, copy s, ratio, host peak RSS KiB\n", mebibytes);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    for (int round = 0; round < rounds; ++round) {
        // Both sides write a new file: freeing the previous round's blocks is not part of either.
        fs::remove(root / "copy");
        fs::remove(root / "dest" / "upload.bin");
        sync();
        const Run copied = run({"/bin/sh", "-c", copy}, frames);
        sync();
        const Run host = run({BRINDLE_HOST_PATH}, frames);
        std::printf("%.2f %.2f %.2f %ld\n", host.seconds, copied.seconds,
                    host.seconds / copied.seconds, host.peakResidentKiB);
    }
    fs::remove_all(root);
}
