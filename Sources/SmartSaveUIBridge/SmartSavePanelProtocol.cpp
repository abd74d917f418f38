#include "SmartSaveUIBridge/SmartSavePanelProtocol.h"

#include "Platform/Files.h"
#include "SmartSaveUIBridge/SmartSaveFileError.h"

#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <array>
#include <cmath>
#include <limits>
#include <system_error>
#include <utility>

namespace brindle {

namespace {

constexpr mode_t exchangeFilePermissions = 0600;

constexpr std::array kindValues = {
    std::pair{SmartSavePanelKind::chooseLibraryRoot, std::string_view("chooseLibraryRoot")},
    std::pair{SmartSavePanelKind::chooseDestination, std::string_view("chooseDestination")}};
constexpr std::array outcomeValues = {
    std::pair{SmartSavePanelOutcome::selected, std::string_view("selected")},
    std::pair{SmartSavePanelOutcome::cancelled, std::string_view("cancelled")},
    std::pair{SmartSavePanelOutcome::failed, std::string_view("failed")}};

template <class Value, std::size_t count>
std::string_view rawValueIn(const std::array<std::pair<Value, std::string_view>, count>& values,
                            Value value) {
    for (const auto& [candidate, raw] : values) {
        if (candidate == value)
            return raw;
    }
    return {};
}

template <class Value, std::size_t count>
Value valueNamed(const std::array<std::pair<Value, std::string_view>, count>& values,
                 std::string_view raw) {
    for (const auto& [value, candidate] : values) {
        if (candidate == raw)
            return value;
    }
    throw SmartSavePanelDecodingError();
}

// The keys go in in ascending order, and the serializer keeps that order.
void insertIfPresent(boost::json::object& object, std::string_view key,
                     const std::optional<std::string>& value) {
    if (value)
        object[key] = *value;
}

// A slash only ever occurs inside strings, so escaping every one in the text escapes exactly
// those: the form both sides have always written.
std::string serialized(const boost::json::object& object) {
    const std::string compact = boost::json::serialize(object);
    std::string escaped;
    escaped.reserve(compact.size());
    for (const char character : compact) {
        if (character == '/')
            escaped += '\\';
        escaped += character;
    }
    return escaped;
}

boost::json::object parsedObject(std::string_view data) {
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(data, error);
    if (error || !value.is_object())
        throw SmartSavePanelDecodingError();
    return std::move(value.as_object());
}

// A JSON number with an integral value that fits a signed 64-bit integer (1 and 1.0 alike).
std::int64_t requiredInteger(const boost::json::object& object, std::string_view key) {
    const boost::json::value* value = object.if_contains(key);
    if (value != nullptr && value->is_int64())
        return value->get_int64();
    if (value != nullptr && value->is_uint64() &&
        value->get_uint64() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return static_cast<std::int64_t>(value->get_uint64());
    if (value != nullptr && value->is_double()) {
        const double number = value->get_double();
        // 2^63 itself is out of range; every double below it converts exactly.
        if (std::trunc(number) == number && number >= -0x1p63 && number < 0x1p63)
            return static_cast<std::int64_t>(number);
    }
    throw SmartSavePanelDecodingError();
}

std::string requiredString(const boost::json::object& object, std::string_view key) {
    const boost::json::value* value = object.if_contains(key);
    if (value == nullptr || !value->is_string())
        throw SmartSavePanelDecodingError();
    return std::string(value->get_string());
}

std::optional<std::string> optionalString(const boost::json::object& object, std::string_view key) {
    const boost::json::value* value = object.if_contains(key);
    if (value == nullptr || value->is_null())
        return std::nullopt;
    if (!value->is_string())
        throw SmartSavePanelDecodingError();
    return std::string(value->get_string());
}

std::optional<bool> optionalBool(const boost::json::object& object, std::string_view key) {
    const boost::json::value* value = object.if_contains(key);
    if (value == nullptr || value->is_null())
        return std::nullopt;
    if (!value->is_bool())
        throw SmartSavePanelDecodingError();
    return value->get_bool();
}

// Both files live only while the host waits for the panel and are removed once it has read the
// answer; a crash of the system ends that exchange anyway. Flushing the request to storage held
// up the panel's start by a disk commit (5 to 10 ms on an ext4 disk, more on a busy one).
void writeAtomically(const std::string& contents, const std::string& path) {
    if (const auto written = platform::writeFileAtomically(
            path, contents, exchangeFilePermissions, platform::Durability::sharedWhileRunning);
        !written)
        throw SmartSaveFileError::writeFailed(path, written.error().value());
}

} // namespace

std::string_view rawValue(SmartSavePanelKind kind) {
    return rawValueIn(kindValues, kind);
}

std::string_view rawValue(SmartSavePanelOutcome outcome) {
    return rawValueIn(outcomeValues, outcome);
}

SmartSavePanelRequest::SmartSavePanelRequest(SmartSavePanelKind kind_,
                                             std::optional<std::string> directoryPath_,
                                             std::optional<std::string> suggestedFilename_,
                                             std::optional<std::string> panelTitle_,
                                             std::optional<std::string> panelMessage_,
                                             std::optional<std::string> inputSourceIdentifier_)
    : kind(kind_), directoryPath(std::move(directoryPath_)),
      suggestedFilename(std::move(suggestedFilename_)), panelTitle(std::move(panelTitle_)),
      panelMessage(std::move(panelMessage_)),
      originalInputSourceIdentifier(std::move(inputSourceIdentifier_)) {}

SmartSavePanelResponse::SmartSavePanelResponse(SmartSavePanelOutcome outcome_,
                                               std::optional<std::string> selectedPath_,
                                               std::optional<std::string> bookmarkDataBase64_,
                                               std::optional<std::string> error_,
                                               std::optional<bool> replaceApproved_)
    : outcome(outcome_), selectedPath(std::move(selectedPath_)),
      bookmarkDataBase64(std::move(bookmarkDataBase64_)), error(std::move(error_)),
      replaceApproved(replaceApproved_) {}

std::string SmartSavePanelMessageCodec::encodeRequest(const SmartSavePanelRequest& request) {
    boost::json::object object;
    insertIfPresent(object, "directoryPath", request.directoryPath);
    object["kind"] = rawValue(request.kind);
    insertIfPresent(object, "originalInputSourceIdentifier", request.originalInputSourceIdentifier);
    insertIfPresent(object, "panelMessage", request.panelMessage);
    insertIfPresent(object, "panelTitle", request.panelTitle);
    object["schemaVersion"] = request.schemaVersion_;
    insertIfPresent(object, "suggestedFilename", request.suggestedFilename);
    return serialized(object);
}

std::string SmartSavePanelMessageCodec::encodeResponse(const SmartSavePanelResponse& response) {
    boost::json::object object;
    insertIfPresent(object, "bookmarkDataBase64", response.bookmarkDataBase64);
    insertIfPresent(object, "error", response.error);
    object["outcome"] = rawValue(response.outcome);
    if (response.replaceApproved)
        object["replaceApproved"] = *response.replaceApproved;
    object["schemaVersion"] = response.schemaVersion_;
    insertIfPresent(object, "selectedPath", response.selectedPath);
    return serialized(object);
}

SmartSavePanelRequest SmartSavePanelMessageCodec::decodeRequest(const std::string& path) {
    auto file = platform::openRegularFile(path, platform::RequiredOwner::anyone);
    if (!file)
        throw SmartSaveFileError::readFailed(path,
                                             file.error().category() == std::generic_category()
                                                 ? file.error().value()
                                                 : static_cast<int>(std::errc::invalid_argument));
    const auto data =
        platform::readHead(file->descriptor, static_cast<std::size_t>(file->status.size));
    if (!data)
        throw SmartSaveFileError::readFailed(path, data.error().value());

    const boost::json::object object = parsedObject(*data);
    const std::int64_t schemaVersion = requiredInteger(object, "schemaVersion");
    SmartSavePanelRequest request(
        valueNamed(kindValues, requiredString(object, "kind")),
        optionalString(object, "directoryPath"), optionalString(object, "suggestedFilename"),
        optionalString(object, "panelTitle"), optionalString(object, "panelMessage"),
        optionalString(object, "originalInputSourceIdentifier"));
    request.schemaVersion_ = schemaVersion;
    return request;
}

SmartSavePanelResponse SmartSavePanelMessageCodec::decodeResponse(std::string_view data) {
    const boost::json::object object = parsedObject(data);
    const std::int64_t schemaVersion = requiredInteger(object, "schemaVersion");
    SmartSavePanelResponse response(
        valueNamed(outcomeValues, requiredString(object, "outcome")),
        optionalString(object, "selectedPath"), optionalString(object, "bookmarkDataBase64"),
        optionalString(object, "error"), optionalBool(object, "replaceApproved"));
    response.schemaVersion_ = schemaVersion;
    return response;
}

void SmartSavePanelMessageCodec::writeRequest(const SmartSavePanelRequest& request,
                                              const std::string& path) {
    writeAtomically(encodeRequest(request), path);
}

void SmartSavePanelMessageCodec::writeResponse(const SmartSavePanelResponse& response,
                                               const std::string& path) {
    writeAtomically(encodeResponse(response), path);
}

} // namespace brindle
