#pragma once

#include <boost/json/object.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

/// A present, non-empty JSON string; anything else throws `ProtocolError::missingField(key)`.
std::string requiredString(std::string_view key, const boost::json::object& request);

/// Like `requiredString` without a copy, for large values; the view lives as long as `request`.
std::string_view requiredStringView(std::string_view key, const boost::json::object& request);

/// Like `requiredString`, but a missing, empty or non-string value is simply absent.
std::optional<std::string> optionalString(std::string_view key, const boost::json::object& request);

/// A finite, non-negative, integral JSON number that fits a signed 64-bit integer (3 and 3.0
/// alike); anything else throws `ProtocolError::missingField(key)`.
int64_t requiredNonNegativeInteger(std::string_view key, const boost::json::object& request);

/// True only when the key holds JSON true.
bool flag(std::string_view key, const boost::json::object& request);

} // namespace brindle
