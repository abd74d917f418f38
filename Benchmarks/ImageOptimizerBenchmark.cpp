// The host's own cost around a lossless WebP conversion: ImageOptimizer::optimize, and a whole
// "optimizeImage" request to a fresh host process (start-up, conversion, tagging, reply),
// against running the same cwebp command directly and waiting for it.

#include "HostRun.h"
#include "MetadataCore/BundledToolLocation.h"
#include "MetadataCore/ImageOptimizer.h"
#include "MetadataCore/NativeMessageFrame.h"
#include "Platform/Processes.h"

#include <benchmark/benchmark.h>
#include <boost/json/serialize.hpp>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;
using brindle::platform::ChildProcess;
using brindle::platform::ChildProcessLaunch;
using brindle::platform::ChildStream;

void run(const std::string& program, const std::vector<std::string>& arguments) {
    ChildProcessLaunch launch;
    launch.program = program;
    launch.arguments = arguments;
    launch.standardOutput = launch.standardError = ChildStream::nullDevice();
    auto child = ChildProcess::spawn(launch);
    if (!child || !child->waitForExit().succeeded())
        throw std::runtime_error(program + " failed");
}

// Two PNG files made once per run: about 50 KB and about 5 MB, both smaller as WebP.
class Samples {
public:
    Samples() {
        std::string pattern = (fs::temp_directory_path() / "brindle-benchmark-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        root = pattern;
        fs::create_directory(root / "tools");
        fs::create_symlink("/usr/bin/cwebp", root / "tools" / "cwebp");
        setenv(brindle::BundledToolLocation::toolsDirectoryVariable, (root / "tools").c_str(), 1);
        fs::create_directory(root / "work");
        make(small(), "mandelbrot=size=256x192");
        make(large(), "testsrc2=size=1920x1200,noise=alls=24:allf=t");
    }
    ~Samples() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    std::string small() const { return (root / "small.png").string(); }
    std::string large() const { return (root / "large.png").string(); }
    std::string work(const std::string& name) const { return (root / "work" / name).string(); }

private:
    static void make(const std::string& path, const std::string& source) {
        run("/usr/bin/ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                source, "-frames:v", "1", "-f", "image2", "-c:v", "png", path});
    }

    fs::path root;
};

const Samples& samples() {
    static const Samples instance;
    return instance;
}

std::string sample(std::int64_t which) {
    return which == 0 ? samples().small() : samples().large();
}

void placeInput(const std::string& source, const std::string& input) {
    fs::copy_file(source, input, fs::copy_options::overwrite_existing);
}

void OptimizeThroughHost(benchmark::State& state) {
    const std::string source = sample(state.range(0));
    const std::string input = samples().work("image.png");
    const brindle::ImageOptimizer optimizer;
    state.counters["pngBytes"] = static_cast<double>(fs::file_size(source));
    for (auto _ : state) {
        state.PauseTiming();
        placeInput(source, input);
        state.ResumeTiming();
        const auto result = optimizer.optimize(input, [] { return false; });
        state.PauseTiming();
        if (!result.optimized)
            state.SkipWithError(("not converted: " + result.reason).c_str());
        fs::remove(result.path);
        state.ResumeTiming();
    }
}

void OptimizeImageRequest(benchmark::State& state) {
    const std::string source = sample(state.range(0));
    const std::string input = samples().work("image.png");
    const std::string request = brindle::nativeMessageFrame::encode(boost::json::serialize(
        boost::json::object{{"action", "optimizeImage"},
                            {"path", input},
                            {"requestId", "benchmark"},
                            {"resourceUrl", "https://cdn.example.com/image.png"},
                            {"pageUrl", "https://example.com/gallery"}}));
    for (auto _ : state) {
        state.PauseTiming();
        placeInput(source, input);
        state.ResumeTiming();
        const auto run = brindle::benchmarks::runHostOnce(request);
        state.PauseTiming();
        if (!run.exitedCleanly || run.output.find("\"optimized\":true") == std::string::npos)
            state.SkipWithError(("not converted: " + run.output).c_str());
        fs::remove(samples().work("image.webp"));
        state.ResumeTiming();
    }
}

void CwebpByHand(benchmark::State& state) {
    const std::string source = sample(state.range(0));
    const std::string input = samples().work("image.png");
    const std::string output = samples().work(".image.png.manual.webp");
    for (auto _ : state) {
        state.PauseTiming();
        placeInput(source, input);
        state.ResumeTiming();
        run("/usr/bin/cwebp", {"-quiet", "-lossless", "-z", "6", "-q", "100", "-alpha_q", "100",
                               "-exact", "-metadata", "all", input, "-o", output});
        state.PauseTiming();
        fs::remove(output);
        fs::remove(input);
        state.ResumeTiming();
    }
}

// Argument 0 is the small image, 1 the large one.
BENCHMARK(CwebpByHand)->Arg(0)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(OptimizeThroughHost)
    ->Arg(0)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(OptimizeImageRequest)
    ->Arg(0)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CwebpByHand)->Arg(1)->Iterations(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(OptimizeThroughHost)->Arg(1)->Iterations(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(OptimizeImageRequest)
    ->Arg(1)
    ->Iterations(4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
