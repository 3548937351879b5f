#include "engine/GlobalUtils.h"

#include <filesystem>
#include <functional>
#include <tuple>

#include "tests/engine/EngineTestSupport.h"

namespace tarn::test {
namespace {

TEST(TextRulesTest, SplitsQuotedPathsDelimitersAndNames)
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
    using Rule = std::string (*)(const std::string&);
    const std::tuple<Rule, const char*, const char*> rules[] = {
        {IncludeTrailingDelimiter, "/a", "/a/"}, {IncludeTrailingDelimiter, "/a/", "/a/"}, {IncludeTrailingDelimiter, "", "/"},
        {ExcludeTrailingDelimiter, "/a/", "/a"}, {ExcludeTrailingDelimiter, "/a//", "/a/"},  // only one is taken off
        {ExtractFilePath, "/srv/share/a:b.iso", "/srv/share/"}, {ExtractFilePath, "name", ""},  // a colon is no delimiter
        {ExtractFileName, "/srv/share/a:b.iso", "a:b.iso"}};
    for (const auto& [rule, path, result] : rules) EXPECT_EQ(rule(path), result) << path;
    EXPECT_EQ(ExtractRelativePath("/Src/Photos", "/src/photos/2020/Jan/"), "2020/Jan/");
    EXPECT_TRUE(SameText("Srv1", "SRV1"));
    EXPECT_FALSE(SameText("Srv1", "Srv2"));
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

TEST_F(FileWrapperTest, CreationModesSeekAndInjectedFaults)
{
    const std::string path = temp / "f.bin";
    FileHandle h = CreateFileChecked(path, FileAccess::Write, CreationMode::CreateNew);
    EXPECT_EQ(WriteBytes(h, "hello", 5), 5);
    EXPECT_EQ(GetFileSize64(h), 5);
    CloseFile(h);
    EXPECT_EQ(h, NoHandle);
    CloseFile(h);  // a closed handle is left alone
    const auto errorOf = [](const std::function<void()>& call) {
        try { call(); } catch (const OsError& error) { return std::string(error.what()) + " " + std::to_string(error.Code()); }
        return std::string("no error");
    };
    EXPECT_EQ(errorOf([&] { CreateFileChecked(path, FileAccess::Write, CreationMode::CreateNew); }), "File exists 17");
    EXPECT_THROW(CreateFileChecked(temp / "missing", FileAccess::Read, CreationMode::OpenExisting), OsError);
    CloseFile(h = CreateFileChecked(path, FileAccess::Write, CreationMode::TruncateExisting));
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(GetLastError(), 0);
    // The fault seam fails calls as the system would, and only as often as asked.
    WriteFile(path, "0123456789");
    InjectFault(FaultOp::Read, "f.bin", EIO, 1, 1);
    h = CreateFileChecked(path, FileAccess::Read, CreationMode::OpenExisting);
    char buffer[4];
    EXPECT_EQ(ReadBytes(h, buffer, 4), 4);  // skipped once
    EXPECT_EQ(errorOf([&] { ReadBytes(h, buffer, 4); }), "Input/output error 5");
    EXPECT_EQ(ReadBytes(h, buffer, 4), 4);  // the fault was used up
    CloseFile(h);
    InjectFault(FaultOp::Open, "f.bin", EACCES);
    EXPECT_EQ(errorOf([&] { CreateFileChecked(path, FileAccess::Read, CreationMode::OpenExisting); }), "Permission denied 13");
}

}  // namespace
}  // namespace tarn::test
