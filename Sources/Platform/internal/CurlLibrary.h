#pragma once

#include <curl/curl.h>

namespace brindle::platform {

/// The libcurl entry points the program uses, resolved when first needed.
///
/// libcurl drags about thirty more libraries (TLS, Kerberos, LDAP, SSH...) into the process.
/// Linked directly, loading them took a start-up of the host from 1.4 ms to 7.4 ms and its
/// resident memory from 4 MiB to 10 MiB, and Chrome starts a fresh host for every message,
/// most of which never touch a URL. So the library is loaded on first use instead.
struct CurlLibrary {
    decltype(&::curl_url) url;
    decltype(&::curl_url_set) urlSet;
    decltype(&::curl_url_get) urlGet;
    decltype(&::curl_url_cleanup) urlCleanup;
    decltype(&::curl_free) free;
};

/// The loaded library, or nothing when libcurl is not installed.
const CurlLibrary* curlLibrary();

} // namespace brindle::platform
