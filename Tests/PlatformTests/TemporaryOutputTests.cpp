// A temporary beside a target goes on every exit, but only what it can prove it made: its own
// output, or, once an exchange is committed, the target that exchange displaced. On ext4 (the
// build folder) and on tmpfs alike.

#include "Platform/Moves.h"
#include "Support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <unistd.h>

namespace brindle::testing {
namespace {

using platform::TemporaryOutput;

std::string hiddenName(const std::string& target) {
    return std::string(".").append(target, target.rfind('/') + 1).append(".part");
}

TEST(TemporaryOutput, RemovesOnlyWhatItMadeAndSwapsBackWhatFailsVerification) {
    const auto is = [](bool answer) {
        return [answer](const platform::FileStatus&) { return answer; };
    };
    const struct {
        const char* rule;
        bool reserved; // else created nameless, "output" written through its descriptor
        std::function<void(TemporaryOutput&)> steps;
        std::string target;            // what the target holds at the end
        std::vector<std::string> left; // what is left beside it
    } cases[] = {
        {"an output never exchanged goes",
         true,
         [](TemporaryOutput& output) {
             writeFile(output.path(), "output");
             ASSERT_TRUE(output.recordOutput());
         },
         "target",
         {}},
        {"a folder a tool left at a reserved name goes",
         true,
         [](TemporaryOutput& output) {
             ASSERT_TRUE(std::filesystem::create_directory(output.path()));
         },
         "target",
         {}},
        {"a failed verification swaps back",
         false,
         [&](TemporaryOutput& output) {
             ASSERT_TRUE(output.recordOutput());
             EXPECT_EQ(output.exchange(is(false)).value(), false);
         },
         "target",
         {}},
        {"a committed exchange keeps the output in place",
         false,
         [&](TemporaryOutput& output) {
             ASSERT_TRUE(output.recordOutput());
             EXPECT_EQ(output.exchange(is(true)).value(), true);
             output.commit();
         },
         "output",
         {}},
        {"an exchange not committed leaves the displaced target",
         false,
         [&](TemporaryOutput& output) {
             ASSERT_TRUE(output.recordOutput());
             EXPECT_EQ(output.exchange(is(true)).value(), true);
         },
         "output",
         {"target"}},
        {"a file of another identity under the name stays",
         false,
         [&](TemporaryOutput& output) {
             ASSERT_TRUE(output.recordOutput());
             EXPECT_EQ(output.exchange(is(true)).value(), true);
             const std::string target = output.path().substr(0, output.path().rfind('/')) + "/t";
             writeFile(target + ".new", "foreign");
             std::filesystem::rename(target + ".new", target);
             output.swapBack();
             output.commit();
         },
         "target",
         {"foreign"}},
    };
    if (!exists("/dev/shm"))
        GTEST_SKIP() << "no tmpfs at /dev/shm";
    for (const std::string& parent :
         {std::filesystem::current_path().string(), std::string("/dev/shm")}) {
        for (const auto& test : cases) {
            const TemporaryDirectory folder(parent);
            const std::string target = folder.file("t");
            writeFile(target, "target");
            {
                auto output = test.reserved ? TemporaryOutput::reserve(target, hiddenName)
                                            : TemporaryOutput::create(target, hiddenName, 0600);
                ASSERT_TRUE(output) << output.error().message();
                if (!test.reserved) {
                    ASSERT_EQ(write(output->descriptor().get(), "output", 6), 6);
                }
                test.steps(*output);
            }
            EXPECT_EQ(readFile(target), test.target) << test.rule << " in " << parent;
            std::vector<std::string> left;
            for (const std::string& name : entries(folder.path()))
                if (name != "t")
                    left.push_back(readFile(folder.file(name)));
            EXPECT_EQ(left, test.left) << test.rule << " in " << parent;
        }
    }
}

} // namespace
} // namespace brindle::testing
