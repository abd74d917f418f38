#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>

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
    decltype(&::curl_url_dup) urlDuplicate;
    decltype(&::curl_free) free;

    // One transfer, driven by this program's own loop (see HTTPFetch.cpp).
    decltype(&::curl_easy_init) easyInit;
    decltype(&::curl_easy_setopt) easySetOption;
    decltype(&::curl_easy_getinfo) easyGetInfo;
    decltype(&::curl_easy_cleanup) easyCleanup;
    decltype(&::curl_multi_init) multiInit;
    decltype(&::curl_multi_add_handle) multiAddHandle;
    decltype(&::curl_multi_remove_handle) multiRemoveHandle;
    decltype(&::curl_multi_perform) multiPerform;
    decltype(&::curl_multi_poll) multiPoll;
    decltype(&::curl_multi_info_read) multiInfoRead;
    decltype(&::curl_multi_cleanup) multiCleanup;
    decltype(&::curl_slist_append) listAppend;
    decltype(&::curl_slist_free_all) listFree;
};

/// Loads the library unless it is loaded: nothing once it is, else why not, in the loader's words.
/// A failed load is tried again at the next call.
std::optional<std::string> curlLoadFailure();

/// The loaded library, or nothing when it cannot be loaded now.
const CurlLibrary* curlLibrary();

} // namespace brindle::platform
