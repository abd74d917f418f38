#include "Support/AttributeReadout.h"

#include "Support/MediaTools.h"

#include <boost/json/parse.hpp>
#include <gtest/gtest.h>

#include <sys/xattr.h>

namespace brindle::testing {

namespace {

constexpr const char* readerScript = R"(
import datetime, json, os, plistlib, sys
def attribute(name):
    try: return os.getxattr(sys.argv[1], name, follow_symlinks=False)
    except OSError: return None
out, utc = {"binary": True}, datetime.timezone.utc
for key, name in (("whereFroms", "WhereFroms"), ("downloadedDate", "DownloadedDate"),
                  ("comment", "FinderComment")):
    if (data := attribute("user.com.apple.metadata:kMDItem" + name)) is None: continue
    out["binary"] = out["binary"] and data.startswith(b"bplist00")
    value = plistlib.loads(data, fmt=plistlib.FMT_BINARY)
    out[key] = [d.replace(tzinfo=utc).timestamp() for d in value] if name[0] == "D" else value
for key, name in (("origin", "origin.url"), ("xdgComment", "comment"), ("tags", "tags")):
    if (data := attribute("user.xdg." + name)) is not None: out[key] = data.decode("utf-8")
print(json.dumps(out))
)";

} // namespace

boost::json::object readAttributesIndependently(const std::string& path) {
    const std::string read = runTool("python3", {"-c", readerScript, path});
    return read.empty() ? boost::json::object() : boost::json::parse(read).as_object();
}

void setRawAttribute(const std::string& path, const std::string& name, const std::string& value) {
    ASSERT_EQ(lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0) << name;
}

std::optional<std::string> rawAttribute(const std::string& path, const std::string& name) {
    char value[256];
    const ssize_t size = lgetxattr(path.c_str(), name.c_str(), value, sizeof value);
    return size < 0 ? std::nullopt : std::optional(std::string(value, std::size_t(size)));
}

} // namespace brindle::testing
