// The version the tool and its man page give: the project's (CMakeLists.txt), through
// the header and the man page that CMake generates from it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tool/ToolRun.h"

TEST(ToolVersion, ToolAndManPageGiveTheProjectsVersion)
{
    const tooltest::RunResult r = tooltest::RunTool({"--version"});
    EXPECT_EQ(r.nStatus, 0) << r.strErr;
    EXPECT_EQ(r.strOut, "vantrel 1.0.0.1\n");

    // The build folder holds the man page as it is installed: compressed.
    FILE* man = popen("gzip -dc '" VANTREL_BINARY_DIR "/vantrel.1.gz'", "r");
    ASSERT_NE(man, nullptr);
    char line[200] = {};
    const bool bRead = std::fgets(line, sizeof line, man) != nullptr;
    pclose(man);
    ASSERT_TRUE(bRead) << "no man page in the build folder";
    EXPECT_STREQ(line, ".TH VANTREL 1 \"2026\" \"vantrel 1.0.0.1\" \"User Commands\"\n");
}
