#include "MetadataCore/MetadataWriter.h"

#include "MetadataCore/FinderComment.h"
#include "MetadataCore/MetadataWriterError.h"
#include "MetadataCore/RequestPath.h"
#include "MetadataCore/WebURL.h"
#include "Platform/ExtendedAttributes.h"
#include "Platform/FileDescriptor.h"
#include "Platform/FileManagerAttributes.h"
#include "Platform/FileStatus.h"
#include "Platform/PropertyList.h"
#include "Platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

namespace {

using platform::FileDescriptor;

constexpr std::string_view sourceTagPrefix = "来源：";

FileDescriptor openValidatedFile(const std::string& path) {
    if (!isUsableRequestPath(path))
        throw MetadataWriterError::invalidPath();
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!file.isOpen())
        throw MetadataWriterError::openFailed(errno);
    struct stat status {};
    if (fstat(file.get(), &status) != 0)
        throw MetadataWriterError::openFailed(errno);
    if (!S_ISREG(status.st_mode))
        throw MetadataWriterError::notRegularFile();
    if (status.st_uid != geteuid())
        throw MetadataWriterError::ownerMismatch();
    return file;
}

std::optional<std::string> readAttributeData(int descriptor, const char* attributeName) {
    platform::AttributeRead<std::string> read = platform::readAttribute(descriptor, attributeName);
    if (read.error != 0)
        throw MetadataWriterError::readAttributeFailed(read.error);
    return std::move(read.value);
}

void writePropertyList(const std::string& propertyList, const char* attributeName, int descriptor) {
    if (platform::setAttribute(descriptor, attributeName, propertyList) != 0)
        throw MetadataWriterError::writeAttributeFailed(errno);
}

std::vector<std::string> readExistingURLs(int descriptor) {
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
double downloadDate(int descriptor) {
    if (const std::optional<timespec> birth = platform::birthTime(descriptor)) {
        if (birth->tv_sec > 0)
            return static_cast<double>(birth->tv_sec) + static_cast<double>(birth->tv_nsec) / 1e9;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

// The comment the user edits in the file manager is the current one when it exists, so their
// own text is merged instead of being overwritten by the older copy kept for macOS.
std::optional<std::string> existingFinderComment(int descriptor) {
    const platform::AttributeRead<std::string> shown = platform::fileManagerComment(descriptor);
    if (shown.error != 0)
        throw MetadataWriterError::readAttributeFailed(shown.error);
    if (shown.value) {
        if (!platform::isValidUTF8(*shown.value))
            throw MetadataWriterError::invalidExistingAttribute();
        return shown.value;
    }
    const std::optional<std::string> data =
        readAttributeData(descriptor, MetadataWriter::finderCommentAttributeName);
    if (!data || data->empty())
        return std::nullopt;
    const std::optional<platform::PropertyListValue> value = platform::parsePropertyList(*data);
    if (!value)
        throw MetadataWriterError::invalidExistingAttribute();
    if (value->kind != platform::PropertyListValue::Kind::string)
        return std::nullopt;
    return value->string;
}

bool validateCoordinatedFile(const std::string& path, int descriptor) {
    struct stat opened {};
    struct stat current {};
    if (fstat(descriptor, &opened) != 0 || lstat(path.c_str(), &current) != 0)
        return false;
    return S_ISREG(current.st_mode) && current.st_uid == geteuid() &&
           current.st_dev == opened.st_dev && current.st_ino == opened.st_ino;
}

std::vector<std::string> withoutDuplicates(const std::vector<std::string>& names) {
    std::vector<std::string> unique;
    for (const std::string& name : names) {
        if (std::find(unique.begin(), unique.end(), name) == unique.end())
            unique.push_back(name);
    }
    return unique;
}

// The tag goes through the descriptor as well; the path is checked before and after so that a
// file swapped in at the same path is reported, as the file manager shows the path's file.
void writeVisibleSourceTag(const std::string& path, const std::optional<std::string>& sourceURL,
                           const std::optional<std::string>& previousSourceTag, int descriptor) {
    if (!sourceURL)
        return;
    const std::string tag = truncatedSourceText(*sourceURL);
    if (!validateCoordinatedFile(path, descriptor))
        throw MetadataWriterError::visibleSourceTagFailed();
    const platform::AttributeRead<std::vector<std::string>> current =
        platform::fileManagerTags(descriptor);
    if (current.error != 0)
        throw MetadataWriterError::visibleSourceTagFailed();

    std::vector<std::string> names = current.value.value_or(std::vector<std::string>{});
    std::erase_if(names, [&](const std::string& name) {
        return name.starts_with(sourceTagPrefix) || name == previousSourceTag;
    });
    names.push_back(tag);
    if (platform::setFileManagerTags(descriptor, withoutDuplicates(names)) != 0)
        throw MetadataWriterError::visibleSourceTagFailed();
    if (!validateCoordinatedFile(path, descriptor))
        throw MetadataWriterError::visibleSourceTagFailed();
}

} // namespace

MetadataWriteResult MetadataWriter::write(const std::string& path,
                                          const std::optional<std::string>& resourceURL,
                                          const std::optional<std::string>& pageURL,
                                          const std::optional<std::string>& frameURL) const {
    const FileDescriptor file = openValidatedFile(path);
    const int descriptor = file.get();

    const std::optional<std::string> resource = sanitizedWebURL(resourceURL);
    std::optional<std::string> page = sanitizedWebURL(pageURL);
    if (!page)
        page = sanitizedWebURL(frameURL);
    const std::optional<std::string> source = page ? page : resource;
    if (!source)
        throw MetadataWriterError::noUsableURLs();

    const std::vector<std::string> urls{*source};
    writePropertyList(platform::binaryPropertyList(urls), attributeName, descriptor);
    if (platform::setFileManagerOriginURL(descriptor, *source) != 0)
        throw MetadataWriterError::writeAttributeFailed(errno);

    if (!readAttributeData(descriptor, downloadedDateAttributeName)) {
        writePropertyList(platform::binaryPropertyListOfDates({downloadDate(descriptor)}),
                          downloadedDateAttributeName, descriptor);
    }

    const std::optional<std::string> existing = existingFinderComment(descriptor);
    std::optional<std::string> previousSourceTag;
    if (existing) {
        if (const std::optional<std::string> previousPage = managedPageURL(*existing))
            previousSourceTag = truncatedSourceText(*previousPage);
    }
    const std::string comment = mergedFinderComment(existing, resource, page);
    writePropertyList(platform::binaryPropertyList(comment), finderCommentAttributeName,
                      descriptor);
    if (platform::setFileManagerComment(descriptor, comment) != 0)
        throw MetadataWriterError::writeAttributeFailed(errno);

    writeVisibleSourceTag(path, source, previousSourceTag, descriptor);
    return {urls};
}

std::vector<std::string> MetadataWriter::readURLs(const std::string& path) const {
    const FileDescriptor file = openValidatedFile(path);
    return readExistingURLs(file.get());
}

} // namespace brindle
