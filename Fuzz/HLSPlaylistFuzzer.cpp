// The variant and audio rendition chosen from any HLS playlist are web addresses.

#include "MetadataCore/MediaMaterializer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto inputs = brindle::MediaMaterializer::preferredHLSInputs(
        {reinterpret_cast<const char*>(data), size}, "https://media.example/show/master.m3u8");
    if (!inputs.primaryURL.starts_with("http") ||
        !inputs.audioURL.value_or("http").starts_with("http"))
        std::abort();
    return 0;
}
