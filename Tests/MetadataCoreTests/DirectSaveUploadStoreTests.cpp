// Streamed uploads staged on real files: names, chunk rules, limits, verification, clean-up.

#include "MetadataCore/DirectSaveUploadStore.h"
#include "Platform/PathsAndText.h"
#include "Support/HostProcess.h"
#include "Support/MediaTools.h"
#include "Support/TemporaryDirectory.h"

#include <boost/beast/core/detail/base64.hpp>
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <sys/resource.h>
#include <unistd.h>

namespace brindle {

class DirectSaveUploadStoreTestAccess {
public:
    static void setByteCount(DirectSaveUploadStore& store, const std::string& id, int64_t count) {
        store.sessions_.at(id).byteCount = count;
    }
};

namespace {

using namespace testing;
namespace beast64 = boost::beast::detail::base64;
using Case = DirectSaveUploadError::Case;

template <class Call> std::optional<Case> failure(const Call& call) {
    return testing::caseOf<DirectSaveUploadError>(call);
}

// Random texts over the alphabet, padding, white space and the URL-safe letters: accepted
// exactly when they follow the rules, and then with Boost.Beast's bytes. The rules are spelt out
// independently of the decoder's tables: whole quads of the alphabet, the last one padded with
// at most two "=".
TEST(Base64, StrictRulesAgainstAnIndependentDecoder) {
    const std::regex rules("([A-Za-z0-9+/]{4})*([A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?");
    std::mt19937 random(7);
    const std::string pieces = "QUJDabc019+/=\n -_";
    std::vector<std::string> texts = {"QQ==", "QQ=", "QUI=", "QUJD\n", "Q===", "QQ==QUJD"};
    while (texts.size() < 20006) {
        std::string& text = texts.emplace_back(random() % 13, ' ');
        for (char& character : text)
            character = pieces[random() % (random() % 4 == 0 ? pieces.size() : 12)];
    }
    for (const std::string& text : texts) {
        std::string bytes, expected(beast64::decoded_size(text.size()), '\0');
        expected.resize(beast64::decode(expected.data(), text.data(), text.size()).first);
        const bool strict = std::regex_match(text, rules);
        ASSERT_EQ(platform::decodeBase64(text, bytes), strict) << text;
        ASSERT_TRUE(!strict || bytes == expected) << text;
    }
}

class DirectSaveUploadStoreTest : public ::testing::Test {
protected:
    std::string onlyFile() const {
        const auto names = entries(root.path() + "/in");
        return names.size() == 1 ? names[0] : "";
    }

    TemporaryDirectory root;
    std::optional<DirectSaveUploadStore> store{std::in_place, root.path() + "/in/"};
};

TEST_F(DirectSaveUploadStoreTest, StagedFileNames) {
    const std::string longID(100, 'x');
    const std::string chinese = testing::repeated("下", 80);
    // An identifier and a suggested name, and the name's prefix and suffix around the UUID.
    const std::tuple<std::string, std::optional<std::string>, std::string, std::string> cases[] = {
        {"下载-1/é", "photo.PNG", "下载-1é", ".png"},
        {"r", "README", "r", ".download"},
        {"r", "a.b-c", "r", ".download"},
        {longID, "a.png", longID.substr(0, 80), ".png"},
        // 80 such characters and a UUID are more than a file name may hold.
        {chinese, "a.png", chinese.substr(0, 71 * 3), ".png"},
    };
    for (const auto& [id, suggested, prefix, suffix] : cases) {
        store->begin(id, suggested);
        // The UUID is of the form the store's start-up clean-up recognises.
        const std::string name = onlyFile(), uuid = name.substr(prefix.size() + 1, 36);
        EXPECT_EQ(name, prefix + "-" + uuid + suffix);
        EXPECT_TRUE(platform::isUUIDString(uuid)) << name;
        EXPECT_EQ(testing::statusOf(root.file("in/" + name)).st_mode & 07777, 0600u);
        store->cancel(id);
    }
    EXPECT_EQ(failure([&] { store->begin("/. .", "a.png"); }), Case::invalidRequest);
}

// Refused chunks leave the upload as it was; the limits are decoded bytes.
TEST_F(DirectSaveUploadStoreTest, ChunksLimitsAndFinish) {
    const std::string full(DirectSaveUploadStore::maximumChunkBytes, 'a');
    store->begin("r", "a.bin");
    const std::string whole = testing::base64Text(full), over = testing::base64Text(full + "b");
    const std::tuple<int64_t, std::string, int64_t> chunks[] = {
        {1, "QQ==", -1},    {0, "", -1},     {0, "QQ==\n", -1},  {0, over, -1},
        {0, whole, 524288}, {0, "QQ==", -1}, {1, "QUJD", 524291}};
    for (const auto& [index, text, expected] : chunks) {
        const auto error = failure([&] { EXPECT_EQ(store->append("r", index, text), expected); });
        EXPECT_EQ(error == Case::invalidChunk, expected < 0) << index << text.substr(0, 9);
    }
    DirectSaveUploadStoreTestAccess::setByteCount(*store, "r", store->maximumUploadBytes - 3);
    EXPECT_EQ(failure([&] { store->append("r", 2, "QUJDRA=="); }), Case::invalidChunk);
    EXPECT_EQ(store->append("r", 2, "QUJD"), store->maximumUploadBytes);
    DirectSaveUploadStoreTestAccess::setByteCount(*store, "r", 524294);
    EXPECT_EQ(failure([&] { store->finish("r", 524294, 2); }), Case::invalidUpload);
    EXPECT_TRUE(onlyFile().empty()) << "a failed finish deletes the file";

    store->begin("r", "a.bin");
    store->append("r", 0, "QUJD");
    store->append("r", 1, "RA==");
    const std::string path = store->finish("r", 4, 2);
    EXPECT_EQ(testing::readFile(path), "ABCD");
    EXPECT_EQ(store->finish("r", 4, 2), path);
    store->begin("empty", "");
    store->begin("short", "");
    store->append("short", 0, "QUJD");
    // A finished upload asked again with other counts, an empty one, one short of its bytes.
    for (const auto& [id, bytes, count] : {std::tuple{"r", 4, 1}, {"empty", 0, 0}, {"short", 4, 1}})
        EXPECT_EQ(failure([&] { store->finish(id, bytes, count); }), Case::invalidUpload) << id;
    EXPECT_EQ(entries(root.path() + "/in").size(), 1u);

    // A write that fails (the file size limit here) ends the upload and deletes its file.
    store->begin("r", "a.bin");
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    const rlimit small{1000, previous.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const auto error =
        failure([&] { store->append("r", 0, testing::base64Text(std::string(3000, 'x'))); });
    setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_EQ(error, Case::writeFailed);
    EXPECT_EQ(entries(root.path() + "/in").size(), 0u);
    EXPECT_EQ(failure([&] { store->append("r", 0, "QUJD"); }), Case::invalidChunk);
}

// A prepared file replaces the staged one as what cancellation and destruction delete.
TEST_F(DirectSaveUploadStoreTest, PreparedFilesAndDestruction) {
    for (const char* id : {"partial", "ready", "prepared", "completed", "cancelled"}) {
        store->begin(id, "a.png");
        store->append(id, 0, "QUJD");
        if (id != std::string("partial"))
            store->finish(id, 3, 1);
    }
    for (const char* id : {"prepared", "cancelled"}) {
        ASSERT_EQ(std::rename(store->finish(id, 3, 1).c_str(), root.file(id).c_str()), 0);
        store->markPrepared(id, root.path() + "/./" + id);
    }
    EXPECT_EQ(store->preparedURL("prepared"), root.file("prepared"));
    EXPECT_EQ(store->preparedURL("ready"), std::nullopt);
    store->cancel("cancelled");
    store->complete("completed");
    store.reset();
    EXPECT_EQ(entries(root.path()), (std::vector<std::string>{"in"}));
    EXPECT_TRUE(onlyFile().starts_with("completed-")) << onlyFile();
}

// What is at the staging path decides; nothing but the user's own folder is taken.
TEST_F(DirectSaveUploadStoreTest, OnlyAPrivateFolderOfTheUserIsUsed) {
    mkdir(root.file("folder").c_str(), 0755);
    mkdir(root.file("foreign").c_str(), 0700);
    // Root can give a folder away; anyone else finds one of root's.
    const std::string foreign = geteuid() == 0 ? root.file("foreign") : "/usr";
    ASSERT_EQ(chown(root.file("foreign").c_str(), 65534, 65534), geteuid() == 0 ? 0 : -1);
    symlink(root.file("folder").c_str(), root.file("link").c_str());
    testing::writeFile(root.file("file"), "");
    for (const std::string& path : {root.file("link"), root.file("file"), foreign})
        EXPECT_EQ(failure([&] { DirectSaveUploadStore{path}; }), Case::invalidUpload) << path;
    for (const std::string name : {"folder", "new/nested"}) {
        DirectSaveUploadStore{root.file(name)};
        EXPECT_EQ(testing::statusOf(root.file(name)).st_mode & 07777, 0700u) << name;
    }
}

} // namespace
} // namespace brindle
