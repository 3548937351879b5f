// Copies into a group folder another local user may write: whatever they plant or swap in, before,
// during or between a kill and the resume, nothing outside the destination changes, and a private
// source's bytes never land in a file others can read. Needs root to make the two users.
#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <sstream>

#include "tests/e2e/E2eSupport.h"

namespace tarn {
namespace {

using namespace test;

constexpr char Victim[] = "tarnwell-t1";  // runs the copy
constexpr char Other[] = "tarnwell-t2";   // shares the group folder with the victim
constexpr char Group[] = "tarnwell-tg";

uid_t Uid(const char* user) { return ::getpwnam(user)->pw_uid; }

void Own(const std::string& path, const char* user)
{
    ASSERT_EQ(::lchown(path.c_str(), Uid(user), ::getpwnam(user)->pw_gid), 0) << path;
}

// Names, kinds, contents, modes, owners, times (the change time too), extended attributes.
std::string Snapshot(const std::string& root)
{
    std::ostringstream text;
    std::vector<std::string> paths = {root};
    for (const auto& entry : fs::recursive_directory_iterator(root)) paths.push_back(entry.path());
    for (const auto& path : paths) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) continue;
        text << '\n' << path << ' ' << st.st_mode << ' ' << st.st_uid << ':' << st.st_gid << ' ' << st.st_mtim.tv_sec
             << '.' << st.st_mtim.tv_nsec << ' ' << st.st_ctim.tv_sec << '.' << st.st_ctim.tv_nsec << ' ';
        if (S_ISREG(st.st_mode)) text << ReadFile(path);
        char names[4096], value[256];
        const ssize_t n = ::llistxattr(path.c_str(), names, sizeof names);
        for (ssize_t i = 0; i < n; i += static_cast<ssize_t>(std::strlen(names + i)) + 1) {
            const ssize_t v = ::lgetxattr(path.c_str(), names + i, value, sizeof value);
            text << ' ' << (names + i) << '=' << std::string(value, v > 0 ? static_cast<size_t>(v) : 0);
        }
    }
    return text.str();
}

enum class When { Before, During, AfterKill };

class SharedFolderTest : public TempFolderTest {
protected:
    // The two users and their group, made once for every test process of the suite (kept after
    // it, as the desktop test makes the second); the group folder and the victim's own folders.
    void SetUp() override
    {
        if (::geteuid() != 0) GTEST_SKIP() << "two users are needed: run as root to make them";
        ASSERT_EQ(std::system("flock /tmp/tarnwell-test-users.lock sh -c 'getent group tarnwell-tg >/dev/null || "
                              "groupadd tarnwell-tg; for u in tarnwell-t1 tarnwell-t2; do id $u >/dev/null 2>&1 || "
                              "useradd -M -U -G tarnwell-tg -s /usr/sbin/nologin $u; done'"), 0);
        ::umask(022);
        ASSERT_EQ(::chmod(temp.Path().c_str(), 0755), 0);
        Folder(Shared(), 02775, 0, Group);
        Folder(temp / "home", 0755, Uid(Victim), Victim);
        Folder(temp / "restore", 0700, Uid(Victim), Victim);
        Folder(temp / "root-restore", 0700, 0, "root");
    }
    static void Folder(const std::string& path, unsigned mode, uid_t owner, const char* group)
    {
        MakeFolders(path);
        ASSERT_EQ(::chown(path.c_str(), owner, ::getgrnam(group)->gr_gid), 0);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }

    std::string Shared() const { return temp / "shared/"; }
    std::string Log(bool asRoot = false) const { return ReadFile(temp / (asRoot ? "root-restore/" : "restore/") + "tarn_log.txt"); }

    std::unique_ptr<CommandRunner> Tarnctl(bool asRoot, std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin() + 1, {"--quiet", "--restore-dir", temp / (asRoot ? "root-restore/" : "restore/")});
        if (asRoot) return std::make_unique<CommandRunner>(TARNCTL_PATH, arguments, temp / "home");
        arguments.insert(arguments.begin(), {"--reuid=" + std::string(Victim), "--regid=" + std::string(Victim),
                                             "--init-groups", "--", TARNCTL_PATH});
        return std::make_unique<CommandRunner>("/usr/bin/setpriv", arguments, temp / "home");
    }

    // The copy's exit status, with the other user's move: once `begun` holds, `mine` and `theirs`
    // exchanged until the copy ends (During), or `replace` between a kill and the resume.
    int Run(bool asRoot, std::vector<std::string> copy, When when, const std::function<bool()>& begun,
            const std::string& mine, const std::string& theirs, const std::function<void()>& replace)
    {
        if (when != When::Before) copy.insert(copy.begin() + 1, {"--speed-limit", "400K"});
        auto run = Tarnctl(asRoot, copy);
        EXPECT_TRUE(when == When::Before || WaitUntil(begun));
        int status = -1;
        if (when == When::During) {
            std::atomic<bool> stop{false};
            long swaps = 0;
            std::thread swapper([&] {
                while (!stop) swaps += ::renameat2(AT_FDCWD, mine.c_str(), AT_FDCWD, theirs.c_str(), RENAME_EXCHANGE) == 0;
            });
            status = run->Wait();
            stop = true;
            swapper.join();
            if (swaps % 2) ::renameat2(AT_FDCWD, mine.c_str(), AT_FDCWD, theirs.c_str(), RENAME_EXCHANGE);
            EXPECT_GT(swaps, 0);
        } else if (when == When::AfterKill) {
            run->Signal(SIGKILL);
            run->Wait();
            replace();
            run = Tarnctl(asRoot, {"resume", "--speed-limit", "0"});
        }
        if (status < 0) status = run->Wait();
        errors = run->Errors();
        return status;
    }

    std::string errors;
};

struct TopLinkCase {
    const char* name;
    When when;
    bool asRoot;  // root copies with --attributes --security: a swap would hand root's folder over
};

class TopFolderLinkTest : public SharedFolderTest, public ::testing::WithParamInterface<TopLinkCase> {};

// The copy's top folder, shared/tree, is the other user's link to a private folder of the victim's
// (or root's).
TEST_P(TopFolderLinkTest, NothingLandsInTheLinksTarget)
{
    const auto [name, when, asRoot] = GetParam();
    const std::string target = temp / "private/";
    MakeFolders(target);
    WriteFile(target + "diary", "mine alone");
    ASSERT_EQ(::setxattr((target + "diary").c_str(), "user.tag", "t", 1, 0), 0);
    ASSERT_EQ(::chmod(target.c_str(), asRoot ? 0755 : 0700), 0);
    for (int i = 0; i < 300; ++i) {
        const std::string file = temp / "src/tree/d" + std::to_string(i % 3) + "/f" + std::to_string(i);
        MakeFolders(fs::path(file).parent_path());
        WriteFile(file, RandomBytes(4096, static_cast<unsigned>(i)));
        ::chmod(file.c_str(), 0600);
    }
    ASSERT_TRUE(asRoot || std::system(("chown -R tarnwell-t1: " + temp / "src/tree " + target).c_str()) == 0);
    const auto before = Snapshot(target);
    const std::string top = Shared() + "tree";
    const auto plant = [&](const std::string& at) {
        ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0);
        Own(at, Other);
    };
    std::vector<std::string> copy = {"copy", temp / "src/tree", Shared()};
    if (asRoot) copy.insert(copy.begin() + 1, {"--attributes", "--security"});
    plant(when == When::Before ? top : Shared() + ".swap");
    const int status = Run(
        asRoot, copy, when,
        [&] {
            return when == When::During ? fs::is_directory(fs::symlink_status(top))
                                        : fs::is_directory(top + "/d0") && !fs::is_empty(top + "/d0");
        },
        top, Shared() + ".swap",
        [&] {
            fs::rename(top, Shared() + "moved");
            plant(top);
        });
    EXPECT_EQ(Snapshot(target), before);
    if (when == When::During) {
        EXPECT_TRUE(status == 0 || status == 2) << status << errors;
        // What the task wrote is whole, wherever the swaps left its folder (none when it never began).
        std::error_code none;
        for (const auto& entry : fs::recursive_directory_iterator(top + "/", none))
            EXPECT_TRUE(!entry.is_regular_file() ||
                        ReadFile(entry.path()) == ReadFile(temp / "src/tree/" + fs::relative(entry.path(), top).string()))
                << entry.path();
    } else {
        EXPECT_EQ(status, 2) << errors;
        EXPECT_NE(Log(asRoot).find("symbolic link"), std::string::npos) << Log(asRoot);
        EXPECT_TRUE(fs::is_symlink(top));
    }
}

INSTANTIATE_TEST_SUITE_P(Attacks, TopFolderLinkTest,
                         ::testing::Values(TopLinkCase{"PlantedBefore", When::Before, false},
                                           TopLinkCase{"PlantedBeforeRootCopy", When::Before, true},
                                           TopLinkCase{"SwappedDuring", When::During, false},
                                           TopLinkCase{"SwappedDuringRootCopy", When::During, true},
                                           TopLinkCase{"SwappedBeforeResume", When::AfterKill, false},
                                           TopLinkCase{"SwappedBeforeResumeRootCopy", When::AfterKill, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ForeignFileCase {
    const char* name;
    When when;
    unsigned sourceMode;
    bool sticky;
    const char* onExists;
    enum { Replaced, LeftOut, WrittenInto } expect;
};

using F = ForeignFileCase;
class ForeignFileTest : public SharedFolderTest, public ::testing::WithParamInterface<F> {};

// The other user's file "secret", held open by them, stands where the copy goes: it never receives
// a byte of a private source.
TEST_P(ForeignFileTest, APrivateSourceNeverLandsInTheOthersFile)
{
    const ForeignFileCase& c = GetParam();
    const std::string folder = Shared() + "tree/";
    Folder(folder, c.sticky ? 03775 : 02775, Uid(Other), Group);
    const std::string theirs = c.when == When::Before ? folder + "secret" : folder + ".theirs";
    WriteFile(theirs, "theirs");
    Own(theirs, Other);
    ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);
    const int held = ::open(theirs.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    const std::string source = RandomBytes(c.when == When::Before ? 100000 : 1500000, 7);
    MakeFolders(temp / "src/tree");
    WriteFile(temp / "src/tree/secret", source);
    ASSERT_EQ(std::system(("chown -R tarnwell-t1: " + temp / "src/tree").c_str()), 0);
    ASSERT_EQ(::chmod((temp / "src/tree/secret").c_str(), c.sourceMode), 0);

    const int status = Run(
        false, {"copy", "--on-exists", c.onExists, temp / "src/tree", Shared()}, c.when,
        [&] { return fs::exists(folder + "secret") && fs::file_size(folder + "secret") > 0; }, folder + "secret",
        theirs, [&] { fs::rename(theirs, folder + "secret"); });  // the other's file in place of the half copy
    char left[16] = {};
    const ssize_t kept = ::pread(held, left, sizeof left, 0);
    ::close(held);
    EXPECT_TRUE(c.expect == F::WrittenInto || (kept == 6 && std::string(left) == "theirs")) << left;
    struct stat st;
    ASSERT_EQ(::stat((folder + "secret").c_str(), &st), 0);
    // Swapped during the copy, the other's file may stand there at the end: said so, never copied.
    if (c.when == When::During && status == 2) {
        EXPECT_NE(Log().find("secret"), std::string::npos) << Log();
        return;
    }
    const bool replaced = c.expect == F::Replaced;
    EXPECT_EQ(status, c.expect == F::LeftOut ? 2 : 0) << errors << Log();
    EXPECT_EQ(st.st_uid, Uid(replaced ? Victim : Other));
    EXPECT_TRUE(!replaced || (st.st_mode & 0777) == 0600u) << std::oct << st.st_mode;
    EXPECT_EQ(ReadFile(folder + "secret"), c.expect == F::LeftOut ? "theirs" : source);
    EXPECT_TRUE(c.when == When::During || c.expect == F::WrittenInto || Log().find(Other) != npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(
    Owners, ForeignFileTest,
    ::testing::Values(F{"DefaultAnswer", When::Before, 0600, false, "upload", F::Replaced},
                      F{"Overwrite", When::Before, 0600, false, "overwrite", F::Replaced},
                      F{"StickyFolder", When::Before, 0600, true, "overwrite", F::LeftOut},
                      F{"SourceEveryoneReads", When::Before, 0644, false, "overwrite", F::WrittenInto},
                      F{"SwappedDuring", When::During, 0600, false, "upload", F::Replaced},
                      F{"SwappedBeforeResume", When::AfterKill, 0600, false, "upload", F::Replaced}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarn
