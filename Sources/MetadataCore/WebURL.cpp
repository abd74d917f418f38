#include "MetadataCore/WebURL.h"

#include "MetadataCore/RequestPath.h"
#include "Platform/PathsAndText.h"

namespace brindle {

std::optional<std::string> sanitizedWebURL(const std::optional<std::string>& text) {
    if (!text || text->empty() || text->size() > maximumRequestPathBytes)
        return std::nullopt;
    std::optional<platform::URLComponents> components = platform::URLComponents::parse(*text);
    if (!components)
        return std::nullopt;
    const std::string scheme = components->scheme();
    if ((scheme != "http" && scheme != "https") || !components->hasHost())
        return std::nullopt;
    components->removeUserAndPassword();
    return components->string();
}

} // namespace brindle
