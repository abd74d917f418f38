#pragma once

#include <boost/system/result.hpp>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

namespace brindle::platform {

/// What every call of this layer that can fail returns: the value, or the system's reason as an
/// errno value in the generic category (or a refusal of `FileRefusal`). Boost is already a
/// dependency for JSON and its `result` is the tested form of this; `std::expected` would need
/// C++23. Exceptions belong to the layers above, where each component has its own error type.
///
/// Boost's `result` may be dropped unread; this one may not, so that an ignored failure does not
/// compile. A caller that has nothing to do about a failure says so with a `(void)` cast.
template <class Value = void>
class [[nodiscard]] Result : public boost::system::result<Value, std::error_code> {
public:
    using Base = boost::system::result<Value, std::error_code>;
    using Base::Base;
    Result(Base base) : Base(std::move(base)) {}
};

/// The errno value `number` as an error code.
inline std::error_code errnoCode(int number) {
    return {number, std::generic_category()};
}

/// The current errno as an error code (EIO when a call failed without setting it).
inline std::error_code lastErrnoCode() {
    return errnoCode(errno != 0 ? errno : EIO);
}

/// A failure, spelt out for a value type that an error code converts to (`bool`).
template <class Value> Result<Value> failure(std::error_code error) {
    return Result<Value>(boost::system::in_place_error, error);
}

/// Success, for `Result<void>`.
inline Result<> success() {
    return {};
}

} // namespace brindle::platform

namespace brindle::platform {

/// The C library's text for an errno value, as `strerror` gives it.
std::string errnoDescription(int errorNumber);

/// Whether the errno value `errorNumber` is a network file system's stale handle (the file was
/// replaced on the server), which the standard library's `std::errc` has no name for.
bool isStaleFileHandle(int errorNumber);

} // namespace brindle::platform
