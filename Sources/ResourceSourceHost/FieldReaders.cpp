#include "ResourceSourceHost/FieldReaders.h"

#include "ResourceSourceHost/ProtocolError.h"

#include <cmath>
#include <limits>

namespace brindle {

namespace {

// 2^63: the first double that no longer fits a signed 64-bit integer.
constexpr double firstDoubleBeyondInt64 = 9223372036854775808.0;

std::optional<int64_t> nonNegativeInteger(const boost::json::value& value) {
    if (const int64_t* number = value.if_int64())
        return *number >= 0 ? std::optional(*number) : std::nullopt;
    if (const uint64_t* number = value.if_uint64()) {
        if (*number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return std::nullopt;
        return static_cast<int64_t>(*number);
    }
    if (const double* number = value.if_double()) {
        if (!std::isfinite(*number) || *number < 0 || std::trunc(*number) != *number ||
            *number >= firstDoubleBeyondInt64)
            return std::nullopt;
        return static_cast<int64_t>(*number);
    }
    return std::nullopt;
}

} // namespace

std::string requiredString(std::string_view key, const boost::json::object& request) {
    if (auto value = optionalString(key, request))
        return std::move(*value);
    throw ProtocolError::missingField(std::string(key));
}

std::string_view requiredStringView(std::string_view key, const boost::json::object& request) {
    const boost::json::value* value = request.if_contains(key);
    if (value == nullptr || !value->is_string() || value->get_string().empty())
        throw ProtocolError::missingField(std::string(key));
    return value->get_string();
}

std::optional<std::string> optionalString(std::string_view key,
                                          const boost::json::object& request) {
    const boost::json::value* value = request.if_contains(key);
    if (value == nullptr || !value->is_string() || value->get_string().empty())
        return std::nullopt;
    return std::string(value->get_string());
}

int64_t requiredNonNegativeInteger(std::string_view key, const boost::json::object& request) {
    const boost::json::value* value = request.if_contains(key);
    if (value != nullptr) {
        if (auto number = nonNegativeInteger(*value))
            return *number;
    }
    throw ProtocolError::missingField(std::string(key));
}

bool flag(std::string_view key, const boost::json::object& request) {
    const boost::json::value* value = request.if_contains(key);
    return value != nullptr && value->is_bool() && value->get_bool();
}

} // namespace brindle
