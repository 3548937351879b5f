#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <random>
#include <sstream>
#include <thread>

namespace tarn::test {

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarn-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern + "/";
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    // Read-only files and folders a test made must not keep the folder alive.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string RandomBytes(size_t count, unsigned seed)
{
    std::mt19937_64 generator(seed);
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; i += 8) {
        const uint64_t value = generator();
        for (size_t j = 0; j < 8 && i + j < count; ++j) bytes[i + j] = static_cast<char>(value >> (8 * j));
    }
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

unsigned ModeOf(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void MakeFolders(const std::string& path) { std::filesystem::create_directories(path); }

std::vector<std::string> NamesOnDisk(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) names.push_back(entry.path().filename());
    return names;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void UsePrivateUserFolders(const TempFolder& folder)
{
    MakeFolders(folder / "config");
    WriteFile(folder / "config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + folder / "docs\"\n");
    setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
}

::testing::AssertionResult SameTree(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    const auto names = [](const std::string& root) {
        std::vector<std::string> all;
        std::error_code missing;
        for (auto it = fs::recursive_directory_iterator(root, missing); it != fs::recursive_directory_iterator(); ++it)
            all.push_back(it->path().lexically_relative(root).string());
        std::sort(all.begin(), all.end());
        return all;
    };
    const auto left = names(a), right = names(b);
    if (left != right)
        return ::testing::AssertionFailure() << left.size() << " entries in the source, " << right.size() << " in the copy";
    for (const auto& name : left)
        if (fs::is_regular_file(a + "/" + name) && ReadFile(a + "/" + name) != ReadFile(b + "/" + name))
            return ::testing::AssertionFailure() << name << " differs from its source";
    return ::testing::AssertionSuccess();
}

std::string TreeListing(const std::string& root)
{
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    std::error_code missing;
    for (auto it = fs::recursive_directory_iterator(root, missing); it != fs::recursive_directory_iterator(); ++it) {
        const std::string path = it->path().string();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        const char type = S_ISREG(st.st_mode) ? 'f' : S_ISDIR(st.st_mode) ? 'd' : S_ISLNK(st.st_mode) ? 'l'
                        : S_ISFIFO(st.st_mode) ? 'p' : S_ISSOCK(st.st_mode) ? 's' : S_ISCHR(st.st_mode) ? 'c' : 'b';
        std::ostringstream line;
        line << it->path().lexically_relative(root).string() << ' ' << type << ' '
             << (type == 'l' ? fs::read_symlink(it->path()).string() : "") << ' ' << st.st_nlink << ' ' << std::oct
             << (st.st_mode & 07777);
        if (type == 'f') line << ' ' << ReadFile(path);
        lines.push_back(line.str());
    }
    std::sort(lines.begin(), lines.end());
    std::string listing;
    for (const auto& line : lines) listing += line + "\n";
    return listing;
}

int MakeLinkTree(const std::string& root)
{
    MakeFolders(root + "sub/deep");
    WriteFile(root + "f", "file");
    WriteFile(root + "sub/deep/h", "deep");
    WriteFile(root + "../outside", "outside");
    WriteFile(root + "hard1", "two names");
    const auto made = [](int result, const std::string& what) {
        if (result != 0) throw std::runtime_error("cannot make " + what);
    };
    made(::link((root + "hard1").c_str(), (root + "sub/deep/hard2").c_str()), "a hard link");
    // Relative, absolute, dangling, to a folder, out of the tree.
    for (const auto& [target, name] : {std::pair<std::string, const char*>{"../f", "sub/rel"}, {root + "f", "abs"},
                                       {"nowhere", "dangling"}, {"sub", "dirlink"}, {"../../outside", "sub/out"}})
        made(::symlink(target.c_str(), (root + name).c_str()), name);
    made(::mkfifo((root + "sub/fifo").c_str(), 0640), "a pipe");
    made(::mknod((root + "sock").c_str(), S_IFSOCK | 0600, 0), "a socket");
    if (::geteuid() == 0) made(::mknod((root + "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), "a device");
    return 2;
}

CommandRunner::CommandRunner(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& home)
    : errorFile_(home + "/stderr.txt"), outputFile_(home + "/stdout.txt")
{
    MakeFolders(home);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int err = ::open(errorFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int out = ::open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

CommandRunner::~CommandRunner()
{
    if (status_ < 0 && pid_ > 0 && ::kill(pid_, SIGKILL) == 0) Wait();
}

namespace {
int ExitStatus(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }
}  // namespace

int CommandRunner::Wait()
{
    if (status_ >= 0) return status_;
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
    }
    return status_ = ExitStatus(raw);
}

bool CommandRunner::WaitFor(std::chrono::milliseconds limit)
{
    return WaitUntil([&] {
        int raw = 0;
        if (status_ < 0 && ::waitpid(pid_, &raw, WNOHANG) == pid_) status_ = ExitStatus(raw);
        return status_ >= 0;
    }, limit);
}

int RunCommand(const std::string& program, const std::vector<std::string>& arguments, const std::string& home,
               std::string* errors, std::string* output)
{
    CommandRunner runner(program, arguments, home);
    const int status = runner.Wait();
    if (errors) *errors = runner.Errors();
    if (output) *output = runner.Output();
    return status;
}

}  // namespace tarn::test
