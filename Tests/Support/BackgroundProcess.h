#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace brindle::testing {

/// A program running beside the test in its own process group, with both output streams in a
/// log file. The whole group is killed when the object goes away, so nothing outlives the test.
class BackgroundProcess {
public:
    BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                      const std::string& logPath);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

private:
    pid_t pid_ = -1;
};

} // namespace brindle::testing
