#pragma once

// Services of the user's desktop and network: the session bus, the file manager, the keyboard
// input source, HTTP fetches and property lists. The libraries behind them (sd-bus, libcurl,
// libplist) are loaded on first use.
//
// Errors: calls that can fail return a `Result` holding an errno value: ENOSYS when the library
// behind them is not installed, else the reason each call names (and ECANCELED for a fetch that
// this process is asked to end during). `showItemsInFileManager` is best effort and reports
// nothing; the keyboard input source is never known on Linux (nothing). Nothing here throws.
//
// Symbolic links: only `showItemsInFileManager` takes a path, which the file manager resolves as
// it sees fit.

#include "Platform/Result.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sd_bus;

namespace brindle::platform {

//===--- Session bus ---===//

/// A method or signal of an object on the session bus.
struct SessionBusMember {
    const char* objectPath;
    const char* interfaceName;
    const char* name;
};

/// A connection to the user's session bus for a few short exchanges. The bus library is loaded
/// when the first connection is made (the host starts often and rarely needs the bus).
class SessionBusConnection {
public:
    /// ENOSYS when the bus library is not installed; the library's reason (ENOENT,
    /// ECONNREFUSED, ...) when there is no session bus to connect to.
    static Result<SessionBusConnection> connect();

    SessionBusConnection(SessionBusConnection&& other) noexcept : bus_(other.bus_) {
        other.bus_ = nullptr;
    }
    SessionBusConnection& operator=(SessionBusConnection&&) = delete;
    SessionBusConnection(const SessionBusConnection&) = delete;
    SessionBusConnection& operator=(const SessionBusConnection&) = delete;
    ~SessionBusConnection();

    /// Calls a method without arguments on whoever owns `busName` now; a service that would have
    /// to be started for the name is not. Success once the owner has answered without an error;
    /// ETIMEDOUT when no answer came within `timeout` (connecting included), the error reply's
    /// errno otherwise (EHOSTUNREACH when nobody owns the name).
    Result<> callMethod(const char* busName, const SessionBusMember& method,
                        std::chrono::milliseconds timeout);

    /// Broadcasts a signal without arguments to every connection that listens for it, and
    /// returns once the bus has it. Meant to follow an answered call: on a connection that the
    /// bus has not accepted yet, it waits for that.
    Result<> broadcastSignal(const SessionBusMember& signal);

private:
    explicit SessionBusConnection(sd_bus* bus) : bus_(bus) {}
    sd_bus* bus_;
};

//===--- File manager ---===//

/// Asks the desktop's file manager to open a window with the entry at the absolute `path`
/// selected. Showing is best effort and reports nothing: without a session bus, or without a
/// file manager on it, nothing is shown. Never waits more than a couple of seconds.
void showItemsInFileManager(const std::string& path);

//===--- Keyboard input source ---===//

// Linux desktops share no service that names or switches the keyboard input source (layout), so
// there is none to read and switching does nothing: callers then leave the user's layout alone.

/// The identifier of the keyboard input source in use.
inline std::optional<std::string> currentKeyboardInputSource() {
    return std::nullopt;
}

/// The ASCII-capable input source the desktop would choose for this user.
inline std::optional<std::string> currentASCIICapableKeyboardInputSource() {
    return std::nullopt;
}

/// The enabled input source with this identifier.
inline std::optional<std::string> enabledKeyboardInputSource(const std::string& /*identifier*/) {
    return std::nullopt;
}

/// Makes the input source the current one; false when that did not happen.
inline bool selectKeyboardInputSource(const std::string& /*identifier*/) {
    return false;
}

//===--- HTTP fetch ---===//

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

//===--- Property lists ---===//

// Binary property lists (format "bplist00", version 1.0), as macOS writes them. A string that is
// not valid UTF-8 cannot be written: EILSEQ.

Result<std::string> binaryPropertyList(const std::string& string);
Result<std::string> binaryPropertyList(const std::vector<std::string>& strings);
/// An array of dates, each given in seconds since 1970-01-01 UTC.
Result<std::string> binaryPropertyListOfDates(const std::vector<double>& secondsSince1970);

/// A parsed property list, as far as its readers look into one.
struct PropertyListValue {
    enum class Kind { string, arrayOfStrings, other };
    Kind kind = Kind::other;
    std::string string;               // for `Kind::string`
    std::vector<std::string> strings; // for `Kind::arrayOfStrings`
};

/// Parses a binary or XML property list; nothing when the bytes are not one.
std::optional<PropertyListValue> parsePropertyList(std::string_view bytes);

/// The string that the dictionary at the top of a binary or XML property list holds under `key`
/// (how an application bundle's Info.plist is read); nothing when the bytes are no such list or
/// the value is not a string.
std::optional<std::string> propertyListDictionaryString(std::string_view bytes,
                                                        const std::string& key);

} // namespace brindle::platform
