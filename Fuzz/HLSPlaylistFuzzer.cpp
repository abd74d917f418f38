// The choice of variant and audio rendition in an HLS playlist, and the tag attribute reader.

#include "MediaMaterializerSteps.h"
#include "MetadataCore/MediaMaterializer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view playlist(reinterpret_cast<const char*>(data), size);
    brindle::mediaMaterialization::hlsAttributes(playlist);
    const std::string base = "https://media.example.com/show/master.m3u8";
    const brindle::HLSInputs inputs =
        brindle::MediaMaterializer::preferredHLSInputs(playlist, base);
    for (const auto* url : {&inputs.primaryURL, inputs.audioURL ? &*inputs.audioURL : nullptr}) {
        if (url && !url->starts_with("http://") && !url->starts_with("https://"))
            std::abort();
    }
    return 0;
}
