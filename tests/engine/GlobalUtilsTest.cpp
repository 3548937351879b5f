#include "engine/GlobalUtils.h"

#include <filesystem>

#include "tests/engine/EngineTestSupport.h"

namespace tarn::test {
namespace {

TEST(TextRulesTest, QuotedPathsSplitAsJoinedAndRelativePathsIgnoreLetterCase)
{
    EXPECT_EQ(JoinQuotedPaths({}), "");
    EXPECT_EQ(JoinQuotedPaths({"/srv/my files"}), "/srv/my files");
    EXPECT_EQ(JoinQuotedPaths({"/a b", "/c"}), "\"/a b\" \"/c\"");
    const auto split = [](const std::string& text) {
        std::vector<std::string> paths;
        SplitQuotedPaths(text, paths);
        return paths;
    };
    for (const std::vector<std::string>& paths : {std::vector<std::string>{"/srv/my files"}, {"/a b", "/c"}, {"/x", "/y y", "/z:1"}})
        EXPECT_EQ(split(JoinQuotedPaths(paths)), paths);
    const std::pair<const char*, std::vector<std::string>> splits[] = {
        {"x", {}},  // one character gives nothing
        {"", {}},
        {"junk\"/a\"", {"/a"}},  // unquoted text before a quote is dropped
        {"\"/a\"   ", {"/a"}},   // trailing blanks are no path
        {"\"/a", {"/a"}},        // an unterminated quote runs to the end
    };
    for (const auto& [text, paths] : splits) EXPECT_EQ(split(text), paths) << text;
    EXPECT_EQ(ExtractRelativePath("/Src/Photos", "/src/photos/2020/Jan/"), "2020/Jan/");
}

using FileWrapperTest = EngineTest;

// A task takes its name from its source's last name, so a ".." leads where the system leads, through links.
TEST_F(FileWrapperTest, AbsolutePathsAreNormalAndTheirDotDotsReal)
{
    namespace fs = std::filesystem;
    const std::string real = fs::canonical(temp.Path());
    MakeFolders(real + "/a/b");
    fs::create_symlink(real + "/a/b", real + "/link");
    const std::pair<const char*, std::string> cases[] = {
        {"", ""},
        {"./x/./y//", real + "/x/y/"},
        {".", real + "/"},
        {"..", fs::path(real).parent_path().string() + "/"},
        {"link/..", real + "/a/"},  // the parent of the link's target, not of the link
        {"link/../b/c", real + "/a/b/c"},
        {"link/x", real + "/link/x"},  // without a "..", links stay as named
        {"a/new/deeper/../../b", real + "/a/b"},  // the names still to be made count as written
        {"/srv//share/./x", "/srv/share/x"},
        {"//no-such-server/share/..", "//no-such-server/"},
        {"/..", "/"},
    };
    const fs::path before = fs::current_path();
    fs::current_path(real);
    for (const auto& [path, absolute] : cases) EXPECT_EQ(AbsolutePath(path), absolute) << path;
    fs::current_path(before);
}

}  // namespace
}  // namespace tarn::test
