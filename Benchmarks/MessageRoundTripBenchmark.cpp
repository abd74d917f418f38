// One large request through the whole in-process path: read the frame, parse, dispatch, write
// the reply. Upload chunks make 0.7 MB messages the common large case.

#include "MetadataCore/DirectSaveUploadStore.h"
#include "ResourceSourceHost/Dispatcher.h"
#include "ResourceSourceHost/NativeMessaging.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

std::string chunkLikeRequest(size_t size) {
    std::string body = R"({"action":"ping","requestId":"bench","chunkIndex":3,"data":")";
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    while (body.size() < size - 2)
        body += alphabet[body.size() % 64];
    body += "\"}";
    return brindle::nativeMessageFrame::encode(body);
}

void BM_ReadDispatchWrite(benchmark::State& state) {
    const std::string frame = chunkLikeRequest(static_cast<size_t>(state.range(0)));
    const int input = memfd_create("request", MFD_CLOEXEC);
    const int output = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (input < 0 || output < 0 ||
        write(input, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
        state.SkipWithError("cannot prepare the request");
        return;
    }
    char staging[] = "/tmp/brindle-round-trip-XXXXXX";
    if (mkdtemp(staging) == nullptr) {
        state.SkipWithError("cannot make a staging folder");
        return;
    }
    brindle::DirectSaveUploadStore store(staging);
    for (auto _ : state) {
        lseek(input, 0, SEEK_SET);
        auto request = brindle::readMessage(input);
        brindle::writeMessage(brindle::handle(*request, store), output);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(frame.size()));
    close(input);
    close(output);
    rmdir(staging);
}
BENCHMARK(BM_ReadDispatchWrite)->Arg(700 * 1000)->Unit(benchmark::kMicrosecond);

} // namespace
