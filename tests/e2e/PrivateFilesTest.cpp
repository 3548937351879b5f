// The restore folder says what the user copies from where: one that others can write is refused.
#include "tests/e2e/E2eSupport.h"

namespace tarn {
namespace {

using namespace test;

using PrivateFilesTest = CommandTest;

TEST_F(PrivateFilesTest, ARestoreFolderOthersCanWriteIsRefusedByEveryCommand)
{
    const std::string restore = temp / "shared";
    MakeFolders(restore);
    fs::permissions(restore, fs::perms(0775));
    WriteFile(temp / "f", "contents");
    for (const std::vector<std::string>& command : {std::vector<std::string>{"copy", "--restore-dir", restore,
                                                                             temp / "f", temp / "dst"},
                                                    {"resume", "--restore-dir", restore}}) {
        std::string errors;
        EXPECT_EQ(Tarnctl(command, &errors), 2) << command[0];
        EXPECT_NE(errors.find("chmod go-w \"" + restore + "\"\n"), npos) << errors;
    }
    EXPECT_TRUE(fs::is_empty(restore));
    EXPECT_FALSE(fs::exists(temp / "dst"));
}

}  // namespace
}  // namespace tarn
