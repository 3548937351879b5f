#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tarn::test {

// A fresh folder for one test, removed with everything in it afterwards. Paths end with '/'.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Random bytes, the same for the same seed.
std::string RandomBytes(size_t count, unsigned seed);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
void MakeFolders(const std::string& path);
// The permission bits of `path` itself (a link is not followed), 0 when it is not there.
unsigned ModeOf(const std::string& path);
// Names of a folder's entries in the order the file system returns them, "." and ".." left out.
std::vector<std::string> NamesOnDisk(const std::string& folder);

// The user's data, configuration and documents folders (XDG) in `folder`, never the user's own.
void UsePrivateUserFolders(const TempFolder& folder);

// Byte-identical trees: the same names, the same folders, the same contents ("b" may be missing).
::testing::AssertionResult SameTree(const std::string& a, const std::string& b);

// What `find ROOT -mindepth 1 -printf '%P %y %l %n %m\n' | sort` lists, each regular file's line
// with its contents: two trees with the same listing are equal under `cp -a`.
std::string TreeListing(const std::string& root);
// Fills `root` with what Linux trees hold besides files and folders: symbolic links relative,
// absolute, dangling, to a folder and out of the tree (to the file "outside" beside `root`, made
// too), a file with names in two folders, a pipe, a socket and, as root, a device. Returns the
// count of links whose target lies outside the tree.
int MakeLinkTree(const std::string& root);

bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A child process with HOME and the XDG folders in `home`, its output and errors in files there.
class CommandRunner {
public:
    CommandRunner(const std::string& program, const std::vector<std::string>& arguments, const std::string& home);
    ~CommandRunner();
    int Wait();  // the exit status, or 128 + the signal that ended it
    bool WaitFor(std::chrono::milliseconds limit);  // whether it ended within `limit`
    void Signal(int signal) { ::kill(pid_, signal); }
    std::string Errors() const { return ReadFile(errorFile_); }
    std::string Output() const { return ReadFile(outputFile_); }

private:
    pid_t pid_ = -1;
    std::string errorFile_;
    std::string outputFile_;
    int status_ = -1;
};

int RunCommand(const std::string& program, const std::vector<std::string>& arguments, const std::string& home,
               std::string* errors = nullptr, std::string* output = nullptr);

class TempFolderTest : public ::testing::Test {
protected:
    TempFolder temp;
};

}  // namespace tarn::test
