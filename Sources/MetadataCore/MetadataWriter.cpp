#include "MetadataCore/MetadataWriter.h"

#include "FinderComment.h"
#include "MetadataCore/MetadataWriterError.h"
#include "MetadataCore/PropertyListError.h"
#include "MetadataCore/RequestPath.h"
#include "MetadataCore/WebURL.h"
#include "Platform/Attributes.h"
#include "Platform/DesktopServices.h"
#include "Platform/Files.h"
#include "Platform/PathsAndText.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>

namespace brindle {

namespace {

using platform::FileDescriptor;

constexpr std::string_view sourceTagPrefix = "来源：";

FileDescriptor openValidatedFile(const std::string& path) {
    if (!isUsableRequestPath(path))
        throw MetadataWriterError::invalidPath();
    platform::Result<platform::OpenedFile> file = platform::openRegularFile(path);
    if (file)
        return std::move(file->descriptor);
    if (file.error() == platform::FileRefusal::notRegularFile)
        throw MetadataWriterError::notRegularFile();
    if (file.error() == platform::FileRefusal::notOwnedByCurrentUser)
        throw MetadataWriterError::ownerMismatch();
    throw MetadataWriterError::openFailed(file.error().value());
}

[[noreturn]] void throwWriteFailed(const std::error_code& error) {
    throw MetadataWriterError::writeAttributeFailed(error.value());
}

void removeCopy(platform::DescriptorRef descriptor, const char* attributeName) {
    if (const platform::Result<> removed = platform::removeAttribute(descriptor, attributeName);
        !removed)
        throwWriteFailed(removed.error());
}

std::optional<std::string> readAttributeData(platform::DescriptorRef descriptor,
                                             const char* attributeName) {
    platform::Result<platform::AttributeValue> read =
        platform::readAttribute(descriptor, attributeName);
    if (!read)
        throw MetadataWriterError::readAttributeFailed(read.error().value());
    return std::move(*read);
}

std::string propertyList(platform::Result<std::string> serialized) {
    if (!serialized)
        throw PropertyListError();
    return std::move(*serialized);
}

// A copy kept for macOS is written as room for attributes allows. One that does not fit leaves no
// older copy of itself that would now disagree.
void writeCopy(const std::string& value, const char* attributeName,
               platform::DescriptorRef descriptor) {
    const platform::Result<> written = platform::setAttribute(descriptor, attributeName, value);
    if (written)
        return;
    if (!platform::isOutOfAttributeRoom(written.error()))
        throwWriteFailed(written.error());
    removeCopy(descriptor, attributeName);
}

std::vector<std::string> readExistingURLs(platform::DescriptorRef descriptor) {
    const std::optional<std::string> data =
        readAttributeData(descriptor, MetadataWriter::attributeName);
    if (!data || data->empty())
        return {};
    std::optional<platform::PropertyListValue> value = platform::parsePropertyList(*data);
    if (!value || value->kind != platform::PropertyListValue::Kind::arrayOfStrings)
        throw MetadataWriterError::invalidExistingAttribute();
    if (value->strings.size() > MetadataWriter::maximumReadURLs)
        value->strings.resize(MetadataWriter::maximumReadURLs);
    return value->strings;
}

// The file's birth time when the file system records one, else now, in seconds since 1970.
double downloadDate(platform::DescriptorRef descriptor) {
    if (const std::optional<timespec> birth = platform::birthTime(descriptor)) {
        if (birth->tv_sec > 0)
            return static_cast<double>(birth->tv_sec) + static_cast<double>(birth->tv_nsec) / 1e9;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

// The comment to merge, and whether it was read from the copy kept for macOS.
struct ExistingComment {
    std::optional<std::string> text;
    bool fromMacOSCopy = false;
};

// The comment the user edits in the file manager is the current one when it exists, so their
// own text is merged instead of being overwritten by the older copy kept for macOS.
ExistingComment existingFinderComment(platform::DescriptorRef descriptor) {
    const platform::Result<platform::AttributeValue> shown =
        platform::fileManagerComment(descriptor);
    if (!shown)
        throw MetadataWriterError::readAttributeFailed(shown.error().value());
    if (*shown) {
        if (!platform::isValidUTF8(**shown))
            throw MetadataWriterError::invalidExistingAttribute();
        return {*shown};
    }
    const std::optional<std::string> data =
        readAttributeData(descriptor, MetadataWriter::finderCommentAttributeName);
    if (!data || data->empty())
        return {};
    const std::optional<platform::PropertyListValue> value = platform::parsePropertyList(*data);
    if (!value)
        throw MetadataWriterError::invalidExistingAttribute();
    if (value->kind != platform::PropertyListValue::Kind::string)
        return {};
    return {value->string, true};
}

bool validateCoordinatedFile(const std::string& path, platform::DescriptorRef descriptor) {
    const auto opened = platform::fileStatus(descriptor);
    const auto current = platform::fileStatusAtPath(path);
    return opened && current && current->isOwnRegularFile() &&
           current->identity == opened->identity;
}

std::vector<std::string> withoutDuplicates(const std::vector<std::string>& names) {
    std::vector<std::string> unique;
    for (const std::string& name : names) {
        if (std::find(unique.begin(), unique.end(), name) == unique.end())
            unique.push_back(name);
    }
    return unique;
}

// What the file manager shows comes before the copies kept for macOS. When it does not fit, the
// copies that this run writes again anyway are removed first to make room, once.
class ShownAttributes {
public:
    ShownAttributes(platform::DescriptorRef descriptor, std::vector<const char*> rewrittenCopies)
        : descriptor_(descriptor), rewrittenCopies_(std::move(rewrittenCopies)) {}

    platform::Result<> write(const std::function<platform::Result<>()>& attempt) {
        platform::Result<> written = attempt();
        if (written || !platform::isOutOfAttributeRoom(written.error()) || rewrittenCopies_.empty())
            return written;
        for (const char* name : std::exchange(rewrittenCopies_, {}))
            removeCopy(descriptor_, name);
        return attempt();
    }

private:
    platform::DescriptorRef descriptor_;
    std::vector<const char*> rewrittenCopies_;
};

// The comment as room allows: when the new block does not fit, the user's own text is kept
// without the older block. What was recorded is returned; nothing when the attribute is left out,
// or when not even the user's text fits and it stays where it was.
std::optional<std::string> writeShownComment(const std::string& comment,
                                             const std::string& userText,
                                             platform::DescriptorRef descriptor,
                                             ShownAttributes& shown) {
    const platform::Result<> written =
        shown.write([&] { return platform::setFileManagerComment(descriptor, comment); });
    if (written)
        return comment;
    if (!platform::isOutOfAttributeRoom(written.error()))
        throwWriteFailed(written.error());
    if (userText.empty()) {
        if (const platform::Result<> removed = platform::removeFileManagerComment(descriptor);
            !removed)
            throwWriteFailed(removed.error());
        return std::nullopt;
    }
    const platform::Result<> userTextWritten =
        platform::setFileManagerComment(descriptor, userText);
    if (userTextWritten)
        return userText;
    if (!platform::isOutOfAttributeRoom(userTextWritten.error()))
        throwWriteFailed(userTextWritten.error());
    return std::nullopt;
}

// The tag goes through the descriptor as well; the path is checked before and after so that a
// file swapped in at the same path is reported, as the file manager shows the path's file. A new
// tag is given only when the comment's block, where the next run finds it again, was recorded;
// when the tags have no room for it, the previous one still goes.
void writeVisibleSourceTag(const std::string& path, const std::optional<std::string>& sourceURL,
                           const std::optional<std::string>& previousSourceTag,
                           platform::DescriptorRef descriptor, ShownAttributes& shown) {
    if (!validateCoordinatedFile(path, descriptor))
        throw MetadataWriterError::visibleSourceTagFailed();
    const platform::Result<std::vector<std::string>> current =
        platform::fileManagerTags(descriptor);
    if (!current)
        throw MetadataWriterError::visibleSourceTagFailed();

    const std::vector<std::string>& stored = *current;
    std::vector<std::string> names = stored;
    std::erase_if(names, [&](const std::string& name) {
        return name.starts_with(sourceTagPrefix) || name == previousSourceTag;
    });
    bool written = false;
    if (sourceURL) {
        std::vector<std::string> withSource = names;
        withSource.push_back(truncatedSourceText(*sourceURL));
        const platform::Result<> tagged = shown.write([&] {
            return platform::setFileManagerTags(descriptor, withoutDuplicates(withSource));
        });
        if (!tagged && !platform::isOutOfAttributeRoom(tagged.error()))
            throw MetadataWriterError::visibleSourceTagFailed();
        written = tagged.has_value();
    }
    names = withoutDuplicates(names);
    if (!written && names != stored && !platform::setFileManagerTags(descriptor, names))
        throw MetadataWriterError::visibleSourceTagFailed();
    if (!validateCoordinatedFile(path, descriptor))
        throw MetadataWriterError::visibleSourceTagFailed();
}

// The where-from list and, when the file has none yet, the download date: copies for macOS.
void writeSourceCopies(const std::vector<std::string>& urls, platform::DescriptorRef descriptor) {
    writeCopy(propertyList(platform::binaryPropertyList(urls)), MetadataWriter::attributeName,
              descriptor);
    if (!readAttributeData(descriptor, MetadataWriter::downloadedDateAttributeName)) {
        writeCopy(propertyList(platform::binaryPropertyListOfDates({downloadDate(descriptor)})),
                  MetadataWriter::downloadedDateAttributeName, descriptor);
    }
}

} // namespace

// ext4 gives all of a file's attributes one block, so what the file manager shows is written
// first: the origin, which is required, the comment and the tags; then the copies for macOS.
MetadataWriteResult MetadataWriter::write(const std::string& path,
                                          const std::optional<std::string>& resourceURL,
                                          const std::optional<std::string>& pageURL,
                                          const std::optional<std::string>& frameURL) const {
    const FileDescriptor file = openValidatedFile(path);
    const platform::DescriptorRef descriptor = file;

    // Without the parser every URL would read as unusable, which is not why the write failed.
    if (const auto failure = platform::URLComponents::parserLoadFailure())
        throw MetadataWriterError::urlParserUnavailable(*failure);
    const std::optional<std::string> resource = sanitizedWebURL(resourceURL);
    std::optional<std::string> page = sanitizedWebURL(pageURL);
    if (!page)
        page = sanitizedWebURL(frameURL);
    const std::optional<std::string> source = page ? page : resource;
    if (!source)
        throw MetadataWriterError::noUsableURLs();
    const std::vector<std::string> urls{*source};

    // The comment is read before anything makes room by removing its copy for macOS, which is
    // not removed while it holds the only copy of the user's text.
    ExistingComment existing;
    std::optional<MetadataWriterError> unreadableComment;
    try {
        existing = existingFinderComment(descriptor);
    } catch (const MetadataWriterError& error) {
        unreadableComment = error;
    }
    const std::string userText = userTextOfFinderComment(existing.text);
    std::vector<const char*> rewrittenCopies{attributeName};
    if (!unreadableComment && !(existing.fromMacOSCopy && !userText.empty()))
        rewrittenCopies.push_back(finderCommentAttributeName);
    ShownAttributes shown(descriptor, std::move(rewrittenCopies));

    if (const platform::Result<> origin =
            shown.write([&] { return platform::setFileManagerOriginURL(descriptor, *source); });
        !origin)
        throwWriteFailed(origin.error());
    if (unreadableComment) {
        // The sources are still recorded where they do not depend on the comment.
        writeSourceCopies(urls, descriptor);
        throw *unreadableComment;
    }

    std::optional<std::string> previousSourceTag;
    if (existing.text) {
        if (const std::optional<std::string> previousPage = managedPageURL(*existing.text))
            previousSourceTag = truncatedSourceText(*previousPage);
    }
    const std::string comment = mergedFinderComment(existing.text, resource, page);
    const std::optional<std::string> shownComment =
        writeShownComment(comment, userText, descriptor, shown);
    writeVisibleSourceTag(path, shownComment == comment ? source : std::nullopt, previousSourceTag,
                          descriptor, shown);

    writeSourceCopies(urls, descriptor);
    if (shownComment) {
        writeCopy(propertyList(platform::binaryPropertyList(*shownComment)),
                  finderCommentAttributeName, descriptor);
    } else if (userText.empty()) {
        removeCopy(descriptor, finderCommentAttributeName);
    }
    return {urls};
}

std::vector<std::string> MetadataWriter::readURLs(const std::string& path) const {
    const FileDescriptor file = openValidatedFile(path);
    return readExistingURLs(file);
}

} // namespace brindle
