// Real sources: a dying share, a source that is its own destination, links, and the metadata a copy carries.
#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "tests/engine/EngineTestSupport.h"

namespace tarn::test {
namespace {

using DownloadThreadSourceTest = EngineTest;

TEST_F(DownloadThreadSourceTest, ADyingShareNeverLeavesItsAnswersInTheCopy)
{
    // As a network mount whose server died: reads full of zeros, then no bytes, then a failing close.
    const std::string data = RandomBytes(3000000, 1);
    WriteFile(Src() + "f", data);
    InjectFault(FaultOp::Read, "src/f", FaultZeroData, 4, 5);
    InjectFault(FaultOp::Read, "src/f", 0, 2, 5);  // the kernel's copy and then a plain read
    InjectFault(FaultOp::Close, "src/f", EIO, 1, 1);  // the close after the copy, not after the early end
    const TaskSetup setup{.bufferSize = 16384, .speedLimit = 1000000000};
    auto task = NewTask(Src() + "f", Dst(), setup);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
    EXPECT_TRUE(Logged(*task, "Err005", "The source stopped answering"));
    EXPECT_TRUE(Logged(*task, "Err005", "Input/output error"));
    EXPECT_EQ(CountId(*task, "Inf007"), 1);
    EXPECT_EQ(task->GetCopiedSize(), 3000000);

    // Zeros that come back after a failure are found by the comparison and copied again.
    task.reset();
    Fresh();
    InjectFault(FaultOp::Read, "src/f", EIO, 1, 3);
    InjectFault(FaultOp::Read, "src/f", FaultZeroData, 2, 3);
    auto again = NewTask(Src() + "f", Dst(), setup);
    ASSERT_TRUE(WaitForState(*again, StateFinished));
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
}

TEST_F(DownloadThreadSourceTest, TheSourceIsNeverItsOwnDestination)
{
    // The same file by its own name, through a link, and through a hard link.
    WriteTree(temp.Path(), {{"d/foo", "XYZ"}, {"links/", ""}, {"hard/", ""}});
    ASSERT_EQ(::symlink((temp / "d/foo").c_str(), (temp / "links/foo").c_str()), 0);
    ASSERT_EQ(::link((temp / "d/foo").c_str(), (temp / "hard/foo").c_str()), 0);
    int name = 1;
    for (const std::string& destination : {temp / "d", temp / "links", temp / "hard"}) {
        auto task = NewTask(temp / "d/foo", destination, {}, "0000000" + std::to_string(name++));
        ASSERT_TRUE(WaitUntil([&] { return task->GetState() == StateFinished || task->IsWaitingForAnswer(); }));
        EXPECT_FALSE(task->IsWaitingForAnswer()) << destination;
        EXPECT_TRUE(Logged(*task, "Err010", "the source file itself")) << destination;
        EXPECT_EQ(ReadFile(temp / "d/foo"), "XYZ");
    }
    EXPECT_TRUE(fs::is_symlink(temp / "links/foo"));

    // A folder copied into itself or onto itself, or named by dots (front ends give real paths), is
    // refused before anything is made.
    WriteTree(Src(), {{"dir/sub/", ""}, {"dir/f", "f"}});
    const std::string folders[][3] = {{"dir", Src() + "dir/sub", "is inside the source folder"},
                                      {"dir", Src(), "is inside the source folder"},
                                      {"dir/..", Dst() + "in/", "own path"},
                                      {"dir/.", Dst() + "in/", "own path"}};
    for (const auto& [source, destination, error] : folders) {
        auto task = NewTask(Src() + source, destination, {}, "0000000" + std::to_string(name++));
        ASSERT_TRUE(WaitUntil([&] { return task->HasRunFailed() && Logged(*task, "Err005", error); })) << source;
        EXPECT_EQ(task->GetState(), StateError);
    }
    EXPECT_FALSE(fs::exists(Src() + "dir/sub/dir"));
    EXPECT_EQ(NamesOnDisk(Src() + "dir").size(), 2u);
    EXPECT_EQ(NamesOnDisk(Dst()), std::vector<std::string>{});
}

TEST_F(DownloadThreadSourceTest, LinkedFoldersAreCopiedAsFoldersBoundedInATreeOfLinks)
{
    // A link to a sibling folder is copied as a folder of its own; any run of trailing delimiters names the folder.
    WriteTree(Src(), {{"tree/a/f", "f"}, {"loop/inner/f", "f"}});
    fs::create_directory_symlink("a", Src() + "tree/b");
    auto task = NewTask(Src() + "tree//", Dst());
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(ReadFile(Dst() + "tree/b/f"), "f");
    EXPECT_EQ(task->GetLeftOutCount(), 0);
    // A link back to a folder on the way down is a loop: logged, not followed.
    fs::create_directory_symlink(Src() + "loop", Src() + "loop/inner/back");
    auto loop = NewTask(Src() + "loop", Dst(), {}, "0000ABCF");
    ASSERT_TRUE(WaitForState(*loop, StateFinished));
    EXPECT_EQ(CountId(*loop, "Err002"), 1);
    EXPECT_EQ(ReadFile(Dst() + "loop/inner/f"), "f");

    // Thirty folders, each with a file and two links to the next: 2^30 paths, 30 folders.
    constexpr int Levels = 30, MaxListings = 8;
    for (int level = 0; level < Levels; ++level) {
        const std::string folder = temp / ("doubling/" + std::to_string(level) + "/");
        WriteTree(folder, {{"f" + std::to_string(level), "f"}});
        if (level + 1 == Levels) continue;
        for (const char* link : {"a", "b"}) fs::create_directory_symlink("../" + std::to_string(level + 1), folder + link);
    }
    auto doubling = NewTask(temp / "doubling/0", Dst(), {}, "0000ABCE");
    ASSERT_TRUE(WaitForState(*doubling, StateFinished));
    std::set<std::string> copied;
    for (const auto& entry : fs::recursive_directory_iterator(Dst() + "0"))
        if (entry.is_regular_file()) copied.insert(entry.path().filename());
    EXPECT_EQ(copied.size(), size_t{Levels});
    EXPECT_LE(doubling->GetCount(KindFile) + doubling->GetCount(KindFolder), 2 * MaxListings * Levels);
    EXPECT_GT(doubling->GetLeftOutCount(), 0);
    EXPECT_TRUE(Logged(*doubling, "Err002", "The folder was reached through links more than 8 times; it is left out"));
}

// A tree of links, hard links and special files, copied with each option off in turn: the copy is
// what `cp` makes with the matching options, less what the task leaves out.
struct LinkCase {
    const char* name;
    TaskSetup setup;
    std::vector<std::string> cp;  // arguments of the reference copy
    const char* leftOutTypes;     // entries of these types (find's %y) the task leaves out
    int leftOut;
    bool outsideCounted;
    const char* source = "tree";  // the folder given, or a link to it
};

class LinkTreeTest : public EngineTest, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(LinkTreeTest, TheCopyIsWhatCpMakes)
{
    const LinkCase& c = GetParam();
    const int outside = MakeLinkTree(Src() + "tree/");
    const timespec old[2] = {{978307200, 0}, {978393600, 0}};  // a link's own times, kept with the attributes
    ASSERT_EQ(::utimensat(AT_FDCWD, (Src() + "tree/dangling").c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
    fs::create_directory_symlink("tree", Src() + "link");
    std::vector<std::string> cp = c.cp;
    cp.insert(cp.end(), {Src() + c.source, temp / "ref"});
    RunCommand("/bin/cp", cp, temp / "home");  // it reports the dangling link where it follows links
    auto task = NewTask(Src() + c.source, Dst(), c.setup);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    std::string expected;
    std::istringstream reference(TreeListing(temp / "ref"));
    for (std::string line; std::getline(reference, line);) {
        const size_t type = line.find(' ') + 1;
        if (!std::strchr(c.leftOutTypes, line[type])) expected += line + "\n";
    }
    const std::string copy = Dst() + c.source + "/";
    EXPECT_EQ(TreeListing(copy), expected);
    if (struct stat link {}; c.setup.linksAsLinks) {
        ASSERT_EQ(::lstat((copy + "dangling").c_str(), &link), 0);
        EXPECT_EQ(link.st_mtim.tv_sec == 978393600, c.setup.copyAttributes);
    }
    EXPECT_EQ(task->GetLeftOutCount(), c.leftOut + (::geteuid() == 0 && std::strchr(c.leftOutTypes, 'c') ? 1 : 0));
    EXPECT_EQ(task->GetLinksOutsideCount(), c.outsideCounted ? outside : 0);
    EXPECT_EQ(CountId(*task, "Inf030"), c.outsideCounted ? 1 : 0);
    EXPECT_EQ(task->GetVerifiedFileCount(), c.setup.verifyCopies ? 3 : 0);  // f, h and the first of two names

    // Copied again over itself, only files are asked about: every other item is found in place.
    auto again = NewTask(Src() + c.source, Dst(), c.setup, "00000002");
    ASSERT_TRUE(Answered(*again, AnswerSkipAll));
    ASSERT_TRUE(WaitForState(*again, StateFinished));
    for (const TMsg& record : Log(*again)) {
        if (record.Id != "Inf017") continue;
        const std::string source = Src() + "tree/" + record.Params[0].substr(copy.size()) + record.Params[1];
        EXPECT_TRUE(fs::is_regular_file(c.setup.linksAsLinks ? fs::symlink_status(source) : fs::status(source))) << source;
    }
    EXPECT_EQ(TreeListing(copy), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, LinkTreeTest,
    ::testing::Values(
        // Verified too: a further name links to its first one's copy once that is read back.
        LinkCase{"AllKept",
                 {.copyAttributes = true, .copySecurity = true, .verifyCopies = true, .linksAsLinks = true, .keepHardLinks = true},
                 {"-a"}, "", 0, true},
        LinkCase{"HardLinksCopied", {.copySecurity = true, .linksAsLinks = true}, {"-a", "--no-preserve=links"}, "", 0, true},
        // Without the security a pipe, socket or device is no file to copy.
        LinkCase{"SpecialFilesLeftOut", {.copyAttributes = true, .linksAsLinks = true, .keepHardLinks = true}, {"-a"}, "psc", 2, true},
        // Followed, each link is what it names; the dangling one cannot be copied.
        LinkCase{"LinksFollowed", {.copySecurity = true}, {"-a", "-L", "--no-preserve=links"}, "", 1, false},
        // A source that is a link is the folder it names, as `cp -H` takes it.
        LinkCase{"SourceGivenAsALink", {.copySecurity = true, .linksAsLinks = true, .keepHardLinks = true}, {"-a", "-H"}, "", 0, true, "link"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadThreadSourceTest, WhatStandsInTheDestinationMeetsLinksAndHardLinksAsItMeetsFiles)
{
    const mode_t previous = ::umask(022);
    const std::string longTarget(300, 'x');  // longer than a first guess at a link's size
    WriteTree(Src() + "tree/", {{"f", "file"}, {"h1", "same"}});
    ASSERT_EQ(::link((Src() + "tree/h1").c_str(), (Src() + "tree/h2").c_str()), 0);
    ASSERT_EQ(::link((Src() + "tree/h1").c_str(), (Src() + "tree/h3").c_str()), 0);
    ASSERT_EQ(::symlink("f", (Src() + "tree/l").c_str()), 0);
    ASSERT_EQ(::symlink(longTarget.c_str(), (Src() + "tree/long").c_str()), 0);
    struct Row {
        const char* name;
        const char* there;  // "link:T", "file:C", "linked:C" (C under all three names) or "folder"; "" for nothing
        uint8_t answer;
        bool firstUnreadable;    // the open of the file's first name in the list fails
        const char* expected;    // its lines of the copy's listing
        int leftOut;
    };
    const Row rows[] = {
        {"l", "link:other", AnswerOverwriteAll, false, "l l f 1 777\n", 0},
        {"l", "link:other", AnswerSkipAll, false, "l l other 1 777\n", 0},
        {"l", "file:data", AnswerUploadAll, false, "l l f 1 777\n", 0},  // nothing of a link is continued
        {"l", "folder", AnswerAsk, false, "l d  2 755\n", 1},  // left out without a question
        // A further name where a file stands becomes a name of the first one's copy.
        {"h2", "file:data", AnswerOverwriteAll, false, "h1 f  3 644 same\nh2 f  3 644 same\nh3 f  3 644 same\n", 0},
        // Names linked in the destination already stay linked, written over in place.
        {"h1", "linked:data", AnswerOverwriteAll, false, "h1 f  3 644 same\nh2 f  3 644 same\nh3 f  3 644 same\n", 0},
        // A name kept as the user's: the others are copied once and linked.
        {"h1", "file:data", AnswerSkipAll, false, "h1 f  1 644 data\nh2 f  2 644 same\nh3 f  2 644 same\n", 0},
        // The first name left out: the second is copied, the third links to it.
        {"h", "", AnswerAsk, true, " f  2 644 same\n", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.there);
        Fresh();
        const std::string there = Dst() + "tree/" + row.name;
        MakeFolders(Dst() + "tree");
        const std::string_view kind(row.there);
        if (kind.starts_with("link:")) fs::create_symlink(row.there + 5, there);
        if (kind.starts_with("file:")) WriteFile(there, row.there + 5);
        if (kind.starts_with("linked:")) {
            WriteFile(Dst() + "tree/h1", row.there + 7);
            for (const char* other : {"h2", "h3"}) fs::create_hard_link(Dst() + "tree/h1", Dst() + "tree/" + other);
        }
        if (kind == "folder") MakeFolders(there);
        const auto names = NamesOnDisk(Src() + "tree");
        const auto first = *std::find_if(names.begin(), names.end(), [](const std::string& n) { return n[0] == 'h'; });
        if (row.firstUnreadable) InjectFault(FaultOp::Open, "src/tree/" + first, EACCES, 1000);
        auto task = NewTask(Src() + "tree", Dst(), {.linksAsLinks = true, .keepHardLinks = true});
        if (row.answer != AnswerAsk) { ASSERT_TRUE(Answered(*task, row.answer)); }
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        ClearFaults();
        const std::string listing = TreeListing(Dst() + "tree");
        EXPECT_NE(listing.find(row.expected), std::string::npos) << listing;
        if (row.firstUnreadable) {
            EXPECT_EQ(listing.find(first + " "), std::string::npos) << listing;
            EXPECT_NE(listing.find(row.expected), listing.rfind(row.expected)) << listing;  // both, linked
        }
        EXPECT_NE(listing.find("long l " + longTarget + " 1 777\n"), std::string::npos);
        EXPECT_EQ(task->GetLeftOutCount(), row.leftOut);
    }
    ::umask(previous);
}

TEST_F(DownloadThreadSourceTest, PermissionsTimesAndAttributesGoWhereTheyBelong)
{
    const mode_t previous = ::umask(022);
    // New files: the source's permission bits less the umask, as a plain copy makes them.
    WriteTree(Src() + "tree/", {{"folder/", ""}, {"private", "private"}, {"tool", "tool"}, {"readonly", "readonly"}, {"setid", "s"}});
    const std::pair<const char*, mode_t> modes[] = {{"folder", 0750}, {"private", 0600}, {"tool", 0775}, {"readonly", 0444}, {"setid", 04755}};
    for (const auto& [name, mode] : modes) ::chmod((Src() + "tree/" + name).c_str(), mode);
    // Times as they were before the copy read the file.
    const timespec old[2] = {{978307200, 0}, {978393600, 0}};  // 2001-01-01 and the day after
    for (const char* name : {"private", "readonly"}) ::utimensat(AT_FDCWD, (Src() + "tree/" + name).c_str(), old, 0);
    const bool attributes = HasUserAttributes(Src() + "tree/folder");
    if (attributes) ::setxattr((Src() + "tree/folder").c_str(), "user.folder", "f", 1, 0);

    auto task = NewTask(Src() + "tree", Dst(), {.copyAttributes = true, .copyStreams = true});
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    ::umask(previous);
    for (const auto& [name, mode] : modes)  // without the owner copied too, the set-id bit stays behind
        EXPECT_EQ(ModeOf(Dst() + "tree/" + name), mode & 0777u) << name;
    for (const char* name : {"private", "readonly"}) EXPECT_EQ(ModifiedOf(Dst() + "tree/" + name), 978393600) << name;
    struct stat st;
    for (const std::string& folder : {Dst(), Src()}) {  // reading the source left its access time alone
        ASSERT_EQ(::stat((folder + "tree/private").c_str(), &st), 0);
        EXPECT_EQ(st.st_atim.tv_sec, 978307200) << folder;
    }
    if (!attributes) GTEST_SKIP() << "no user attributes here";
    EXPECT_EQ(Attribute(Dst() + "tree/folder", "user.folder"), "f");

    // A file the copy goes on with (its size and time say it is the source's) and a folder that
    // was there end with exactly their sources' attributes; a new file's arrive as streams after it.
    task.reset();
    ::setxattr((Src() + "tree/tool").c_str(), "user.kept", "source", 6, 0);
    ::setxattr((Dst() + "tree/tool").c_str(), "user.kept", "old", 3, 0);
    for (const char* name : {"tool", "folder"}) ::setxattr((Dst() + "tree/" + name).c_str(), "user.stale", "old", 3, 0);
    WriteFile(Src() + "tree/f", "file");
    ::setxattr((Src() + "tree/f").c_str(), "user.one", "11", 2, 0);
    ::setxattr((Src() + "tree/f").c_str(), "user.empty", "", 0, 0);
    ::chmod((Src() + "tree/f").c_str(), 0640);
    auto again = NewTask(Src() + "tree", Dst(), {.copyAttributes = true, .copySecurity = true, .copyStreams = true}, "00000002");
    ASSERT_TRUE(Answered(*again, AnswerUploadAll));
    ASSERT_TRUE(WaitForState(*again, StateFinished));
    EXPECT_EQ(Attribute(Dst() + "tree/tool", "user.kept"), "source");
    for (const char* name : {"tool", "folder"}) EXPECT_EQ(Attribute(Dst() + "tree/" + name, "user.stale"), "(none)") << name;
    EXPECT_EQ(Attribute(Dst() + "tree/folder", "user.folder"), "f");
    EXPECT_EQ(Attribute(Dst() + "tree/f", "user.one"), "11");
    EXPECT_EQ(Attribute(Dst() + "tree/f", "user.empty"), "");
    EXPECT_EQ(ModeOf(Dst() + "tree/f"), 0640u);
    EXPECT_EQ(Log(*again)[2].Params, std::vector<std::string>{"5"});  // streams are no files
    const auto items = Items("00000002");
    const auto f = std::find_if(items.begin(), items.end(), [](const TItemAttrs& i) { return i.Name == "f"; });
    ASSERT_LT(f + 2, items.end());
    EXPECT_EQ(f[1].Kind, KindStream);
    EXPECT_EQ(f[2].Kind, KindStream);
    // Attributes, Primary Group, Owner and Permissions, in this order.
    EXPECT_TRUE(Logged(*again, "Inf021", "^Msg014^, ^Msg016^, ^Msg017^, ^Msg015^"));
}

}  // namespace
}  // namespace tarn::test
