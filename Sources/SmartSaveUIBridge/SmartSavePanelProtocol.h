#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// The host and the save-panel application exchange one request file and one response file in a
// private folder; these are the two records, their JSON form and the rules for the files.

/// Which panel to show; the raw values are the JSON strings.
enum class SmartSavePanelKind { chooseLibraryRoot, chooseDestination };

/// How the panel ended.
enum class SmartSavePanelOutcome { selected, cancelled, failed };

std::string_view rawValue(SmartSavePanelKind kind);
std::string_view rawValue(SmartSavePanelOutcome outcome);

struct SmartSavePanelMessageCodec;

/// What the host asks the save-panel application to show.
class SmartSavePanelRequest {
public:
    static constexpr std::int64_t currentSchemaVersion = 1;

    explicit SmartSavePanelRequest(
        SmartSavePanelKind kind, std::optional<std::string> directoryPath = std::nullopt,
        std::optional<std::string> suggestedFilename = std::nullopt,
        std::optional<std::string> panelTitle = std::nullopt,
        std::optional<std::string> panelMessage = std::nullopt,
        std::optional<std::string> originalInputSourceIdentifier = std::nullopt);

    /// Always the current version for a request made here; a decoded one says what its writer
    /// used.
    std::int64_t schemaVersion() const noexcept { return schemaVersion_; }

    SmartSavePanelKind kind;
    std::optional<std::string> directoryPath;
    std::optional<std::string> suggestedFilename;
    std::optional<std::string> panelTitle;
    std::optional<std::string> panelMessage;
    std::optional<std::string> originalInputSourceIdentifier;

    bool operator==(const SmartSavePanelRequest&) const = default;

private:
    friend struct SmartSavePanelMessageCodec;
    std::int64_t schemaVersion_ = currentSchemaVersion;
};

/// What the save-panel application answers.
class SmartSavePanelResponse {
public:
    static constexpr std::int64_t currentSchemaVersion = 1;

    explicit SmartSavePanelResponse(SmartSavePanelOutcome outcome,
                                    std::optional<std::string> selectedPath = std::nullopt,
                                    std::optional<std::string> bookmarkDataBase64 = std::nullopt,
                                    std::optional<std::string> error = std::nullopt,
                                    std::optional<bool> replaceApproved = std::nullopt);

    std::int64_t schemaVersion() const noexcept { return schemaVersion_; }

    SmartSavePanelOutcome outcome;
    std::optional<std::string> selectedPath;
    std::optional<std::string> bookmarkDataBase64;
    std::optional<std::string> error;
    /// For a chosen file: whether the user agreed in the panel to replace what stood at that
    /// name. Panels that predate it leave it out, and their answer says nothing either way.
    std::optional<bool> replaceApproved;

    bool operator==(const SmartSavePanelResponse&) const = default;

private:
    friend struct SmartSavePanelMessageCodec;
    std::int64_t schemaVersion_ = currentSchemaVersion;
};

/// Bytes that are not a record of the expected form: not JSON, not an object, a required key
/// missing or of the wrong type, an optional key of the wrong type, or an unknown kind or
/// outcome. Unknown keys are ignored, and a null optional key counts as absent.
class SmartSavePanelDecodingError : public std::exception {
public:
    const char* what() const noexcept override { return "未能读取数据，因为它的格式不正确。"; }
};

/// The JSON form shared by both sides: one compact object, keys in ascending order, absent
/// optional fields left out, and "/" inside strings written as "\/". File errors are thrown as
/// `SmartSaveFileError`, decoding errors as `SmartSavePanelDecodingError`.
struct SmartSavePanelMessageCodec {
    static std::string encodeRequest(const SmartSavePanelRequest& request);
    static std::string encodeResponse(const SmartSavePanelResponse& response);

    /// Reads the whole file (a regular file, not through a link) and decodes it.
    static SmartSavePanelRequest decodeRequest(const std::string& path);
    static SmartSavePanelResponse decodeResponse(std::string_view data);

    /// Encodes and writes the file in one step (a new file renamed over the path) with
    /// permissions 0600.
    static void writeRequest(const SmartSavePanelRequest& request, const std::string& path);
    static void writeResponse(const SmartSavePanelResponse& response, const std::string& path);
};

} // namespace brindle
