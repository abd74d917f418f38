#pragma once

#include "Platform/Result.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace brindle::platform {

/// How long a fetch may take and how much it may read.
struct HTTPFetchLimits {
    /// Given up after this long without receiving a byte...
    std::chrono::milliseconds stallTimeout{std::chrono::seconds(15)};
    /// ...or after this long in all.
    std::chrono::milliseconds totalTimeout{std::chrono::seconds(20)};
    /// A body longer than this is not read to its end.
    std::size_t maximumBodyBytes = 1 << 20;
};

/// What a fetch received.
struct HTTPResponse {
    std::string body;
    /// Where the fetch ended after following redirects: the base of addresses the body names.
    std::string finalURL;
};

/// GETs `url` on a fresh connection state: nothing is kept from or for other fetches (no
/// cookies, cache or credentials) and nothing is sent beyond the library's own request line and
/// headers and `headers` ("Name: value", replacing a library header of the same name).
/// Redirects are followed to http and https addresses only. Gives the body of a 2xx reply and its
/// address, or ETIMEDOUT (a time-out of `limits`), EFBIG (a body over the limit), EPROTO (another
/// status or a redirect elsewhere), ENOSYS (libcurl is not installed) or EIO (the transfer failed).
Result<HTTPResponse> fetchHTTP(const std::string& url, const std::vector<std::string>& headers,
                               const HTTPFetchLimits& limits = {});

} // namespace brindle::platform
