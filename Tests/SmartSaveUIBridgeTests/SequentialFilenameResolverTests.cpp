// Numbered names for clashing files, against lists and against real folders.

#include "SmartSaveUIBridge/SequentialFilenameResolver.h"
#include "SmartSaveUIBridge/SmartSaveFileError.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace brindle::testing {
namespace {

TEST(SequentialFilenameResolver, NumbersTakenNamesAfterTheBaseName) {
    const std::string decomposed = "e\u0301.txt";
    const std::string exhausted = "同名文件过多，无法生成可用的新文件名";
    std::string han; // 3 bytes a character: cut to whole characters
    while (han.size() < 300)
        han += "字";
    const struct {
        std::string suggested;
        std::vector<std::string> existing;
        std::string expected;
        bool caseSensitive = true;
        std::int64_t maximum = 100;
    } rows[] = {
        // Names apart only in case where case counts, or only in Unicode form: the folder test.
        {decomposed, {"a.txt"}, decomposed},
        {"photo.jpg", {"Photo.JPG"}, "photo (1).jpg", false},
        {"Straße.TXT", {"straße.txt"}, "Straße (1).TXT", false},
        {"photo.jpg", {"photo.jpg", "photo (1).jpg", "PHOTO (2).jpg"}, "photo (2).jpg", true, 9},
        {"photo (3).jpg", {"photo (3).jpg", "photo (4).jpg"}, "photo (5).jpg"},
        {"photo(3).jpg", {"photo(3).jpg"}, "photo(3) (1).jpg"},
        {"photo (0).jpg", {"photo (0).jpg"}, "photo (0) (1).jpg"},
        {"a (99999999999999999999)", {"a (99999999999999999999)"}, "a (99999999999999999999) (1)"},
        {" (2).txt", {" (2).txt"}, "file (3).txt"},
        {".env", {".env"}, ".env (1)"},
        {"archive.tar.gz", {"archive.tar.gz"}, "archive.tar (1).gz"},
        {han + ".txt", {han + ".txt"}, han.substr(0, 246) + " (1).txt"},
        {"a.txt", {"a.txt"}, exhausted, true, 0},
        {"a.txt", {"a.txt", "a (1).txt", "a (2).txt"}, exhausted, true, 2},
    };
    for (const auto& row : rows) {
        try {
            EXPECT_EQ(SequentialFilenameResolver().resolve(row.suggested, row.existing,
                                                           row.caseSensitive, row.maximum),
                      row.expected);
        } catch (const SequentialFilenameResolverError& error) {
            EXPECT_EQ(error.what(), row.expected) << row.suggested;
        }
    }
    // The panel edits the name without its extension.
    const SavePanelFilenamePresentation notes("notes.txt");
    EXPECT_EQ(notes.editableBasename() + "|" + notes.extensionWithDot(), "notes|.txt");
    EXPECT_TRUE(notes.representsManagedFilename("notes"));
    EXPECT_EQ(notes.fullFilename(" report \n"), "report.txt");
    EXPECT_EQ(notes.fullFilename(" \u3000"), "notes.txt");
}

TEST(SequentialFilenameResolver, FollowsTheFoldersOwnCaseRule) {
    TemporaryDirectory onDisk;
    const SequentialFilenameResolver resolver;
    writeFile(onDisk.file("Photo.JPG"), "");
    writeFile(onDisk.file("e\u0301.txt"), "");
    EXPECT_EQ(resolver.resolve("photo.jpg", onDisk.path(), 9), "photo.jpg");
    EXPECT_EQ(resolver.resolve("\u00e9.txt", onDisk.path(), 9), "\u00e9 (1).txt");
    EXPECT_THROW(resolver.resolve("a", onDisk.file("none"), 9), SmartSaveFileError);

    // A folder that ignores case: ext4 with case folding, else FAT, on a loop-mounted image.
    const std::string mount = "cd " + onDisk.path() + R"( && truncate -s 32M image && mkdir mnt &&
        { { mkfs.ext4 -q -O casefold image && mount -o loop image mnt && mkdir mnt/f &&
        chattr +F mnt/f; } || { umount mnt; mkfs.vfat image && mount -o loop image mnt &&
        mkdir mnt/f; }; } >/dev/null 2>&1)";
    if (std::system(mount.c_str()) != 0)
        GTEST_SKIP() << "no case-insensitive folder: mounting an ext4 image with casefold or a "
                        "vfat image needs root, loop devices and kernel support";
    writeFile(onDisk.file("mnt/f/Photo.JPG"), "");
    EXPECT_EQ(resolver.resolve("photo.jpg", onDisk.file("mnt/f"), 9), "photo (1).jpg");
    EXPECT_EQ(std::system(("umount " + onDisk.file("mnt")).c_str()), 0);
}

} // namespace
} // namespace brindle::testing
