#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <fmt/format.h>

#include "quarn/ast/temp_dir.h"

namespace {

TEST(WarmUpExit, TheProcessExitsCleanlyWhileWorkersRun) {
    quarn_test::TempDir project;
    for (int i = 0; i < 2000; ++i) {
        project.write(fmt::format("m{}.py", i),
                      fmt::format("from quarn.features import features\n"
                                  "@features\nclass C{0}:\n    # doc\n    x: int = f(a=1)\n"
                                  "def g{0}(y):\n    return y + {0}\n",
                                  i));
    }
    const std::string errors = project / "stderr.txt";
    for (int round = 0; round < 6; ++round) {
        const std::string command =
            fmt::format("'{}' '{}' {} 2>'{}'", QUARN_WARM_UP_EXIT, project.path(),
                        round % 2 == 0 ? "keep" : "drop", errors);
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << "round " << round << ": status " << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "round " << round;
        std::ifstream in(errors);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), "") << "round " << round;
    }
}

}  // namespace
