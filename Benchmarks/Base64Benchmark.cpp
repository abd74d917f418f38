// The upload chunk decoder against Boost.Beast's, a plain decoder that looks up one character
// at a time, on a full 512 KiB chunk.

#include "Platform/PathsAndText.h"

#include <benchmark/benchmark.h>
#include <boost/beast/core/detail/base64.hpp>

#include <random>
#include <string>

namespace {

namespace beast64 = boost::beast::detail::base64;

std::string chunkText() {
    std::string bytes(512 * 1024, '\0');
    std::mt19937 random(1);
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    std::string text(beast64::encoded_size(bytes.size()), '\0');
    text.resize(beast64::encode(text.data(), bytes.data(), bytes.size()));
    return text;
}

void BM_UploadDecoder(benchmark::State& state) {
    const std::string text = chunkText();
    std::string bytes;
    for (auto _ : state) {
        benchmark::DoNotOptimize(brindle::platform::decodeBase64(text, bytes));
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_UploadDecoder);

void BM_BeastDecoder(benchmark::State& state) {
    const std::string text = chunkText();
    std::string bytes(beast64::decoded_size(text.size()), '\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(beast64::decode(bytes.data(), text.data(), text.size()));
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_BeastDecoder);

} // namespace
