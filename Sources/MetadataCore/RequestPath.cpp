#include "MetadataCore/RequestPath.h"

namespace brindle {

bool isUsableRequestPath(std::string_view path) {
    return !path.empty() && path.size() <= maximumRequestPathBytes &&
           path.find('\0') == std::string_view::npos && path.front() == '/';
}

} // namespace brindle
