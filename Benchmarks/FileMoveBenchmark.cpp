// A move of a large file from tmpfs (/dev/shm) into a folder on another file system, against
// `mv` followed by `sync` of the moved file, which is the least that leaves the same bytes safely
// on storage. The two alternate and each round starts with nothing left to write back, so both
// see the same state of the disk. Usage: FileMoveBenchmark [MiB] [rounds] [destination folder]

#include "Platform/Moves.h"
#include "Platform/Processes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using brindle::platform::ChildProcess;

bool runs(const std::vector<std::string>& arguments) {
    brindle::platform::ChildProcessLaunch launch;
    launch.program = arguments.front();
    launch.arguments.assign(arguments.begin() + 1, arguments.end());
    auto child = ChildProcess::spawn(launch);
    return child && child->waitForExit().succeeded();
}

template <class Move> double timed(const Move& move) {
    sync();
    const auto start = std::chrono::steady_clock::now();
    if (!move())
        std::exit(1);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::ranges::sort(values);
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const long mebibytes = argc > 1 ? std::atol(argv[1]) : 256;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const fs::path folder = fs::path(argc > 3 ? argv[3] : fs::current_path().string()) /
                            ("brindle-move-bench-" + std::to_string(getpid()));
    const fs::path source = "/dev/shm/brindle-move-bench-" + std::to_string(getpid());
    fs::create_directory(folder);
    struct stat here {
    }, shm{};
    if (stat(folder.c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 ||
        here.st_dev == shm.st_dev) {
        std::fprintf(stderr, "%s is not on another file system than /dev/shm\n", folder.c_str());
        return 1;
    }

    std::string bytes(static_cast<size_t>(mebibytes) << 20, '\0');
    std::mt19937_64 random(5);
    for (size_t index = 0; index + 8 <= bytes.size(); index += 8) {
        const auto word = random();
        std::copy_n(reinterpret_cast<const char*>(&word), 8, bytes.data() + index);
    }
    const auto makeSource = [&] { std::ofstream(source, std::ios::binary) << bytes; };
    const std::string destination = (folder / "moved.bin").string();

    std::vector<double> moves, references, ratios;
    std::printf("%ld MiB from /dev/shm to %s: move s, mv + sync s\n", mebibytes, folder.c_str());
    for (int round = 0; round < rounds; ++round) {
        double move = 0, reference = 0;
        for (int side = 0; side < 2; ++side) {
            makeSource();
            if ((side + round) % 2 == 0) {
                move = timed([&] {
                    return bool(brindle::platform::moveItemWithoutReplacing(source, destination));
                });
            } else {
                reference = timed([&] {
                    return runs({"/usr/bin/mv", source, destination}) &&
                           runs({"/usr/bin/sync", destination});
                });
            }
            fs::remove(destination);
        }
        std::printf("%.3f %.3f\n", move, reference);
        moves.push_back(move);
        references.push_back(reference);
        ratios.push_back(move / reference);
    }
    // Other work on the machine slows both sides of a round alike: the ratio within each round
    // is the steadier figure.
    std::printf("medians: move %.3f s, mv + sync %.3f s, ratio of rounds %.2f\n", median(moves),
                median(references), median(ratios));
    fs::remove(source);
    fs::remove_all(folder);
}
