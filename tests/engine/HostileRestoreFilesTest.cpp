// Restore files that were damaged or written by someone else: a task restored from them never
// reads or writes outside its restore folder and destination, and never finishes without
// copying. Each is refused with a clear error before the task runs.
#include <filesystem>

#include "engine/RestoreFiles.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn {
namespace {

using test::EngineTest;
using test::MakeFolders;
using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

class HostileRestoreFilesTest : public EngineTest {
protected:
    // The files of a task that copied two of the three files of src/tree into dst/tree/.
    void WriteTask(const TaskVariables& v, const std::vector<TItemAttrs>& items)
    {
        MakeFolders(RestoreDir());
        WriteFile(RestoreDir() + "0000ABCD.var", EncodeVarFile(v));
        WriteFile(RestoreDir() + "0000ABCD.con", EncodeConFile(items, {}));
        WriteFile(RestoreDir() + "0000ABCD.log", LogFileHeader());
    }
    TaskVariables Variables() const
    {
        TaskVariables v;
        v.State = StatePaused;
        v.Source = Src() + "tree/";
        v.Destination = Dst() + "tree/";
        v.SourceKind = SourceFolder;
        v.CurrentIndex = 2;
        return v;
    }
    static std::vector<TItemAttrs> Items() { return {{"", "a", 1, KindFile}, {"", "b", 1, KindFile}, {"", "c", 1, KindFile}}; }
    // The error a restore of the task raises; empty when it restores.
    std::string RestoreError()
    {
        try {
            RestoreTask();
        } catch (const std::exception& error) {
            return error.what();
        }
        return {};
    }
};

TEST_F(HostileRestoreFilesTest, FilesThatWouldLeadOutsideOrSkipTheCopyAreRefused)
{
    WriteTask(Variables(), Items());
    ASSERT_EQ(RestoreError(), "");  // the files as the task wrote them restore
    struct Case {
        const char* what;
        TaskVariables v;
        std::vector<TItemAttrs> items;
        const char* error;
    };
    TaskVariables past = Variables();
    past.CurrentIndex = 4;
    TaskVariables relative = Variables();
    relative.Destination = "dst/tree/";
    const Case cases[] = {
        {"a position past the list", past, Items(), "past the end"},
        {"a relative destination", relative, Items(), "not an absolute path"},
        {"an item climbing out", Variables(), {{"", "a", 1, KindFile}, {"../../", "evil", 1, KindFile}}, "leaves its folder"},
        {"an absolute item", Variables(), {{"/etc/", "passwd", 1, KindFile}}, "absolute"},
    };
    for (const auto& c : cases) {
        fs::remove_all(RestoreDir());
        WriteTask(c.v, c.items);
        EXPECT_NE(RestoreError().find(c.error), std::string::npos) << c.what;
    }
    // A restore file that is a link (to another task's file, or to anything) is not read.
    fs::remove_all(RestoreDir());
    WriteTask(Variables(), Items());
    fs::rename(RestoreDir() + "0000ABCD.var", temp / "elsewhere.var");
    fs::create_symlink(temp / "elsewhere.var", RestoreDir() + "0000ABCD.var");
    EXPECT_FALSE(RestoreError().empty());
    EXPECT_FALSE(fs::exists(Dst() + "tree"));

    // Sparse far past its bound: refused by its size before a byte is read into memory.
    for (const char* extension : {".var", ".con", ".log"}) {
        fs::remove_all(RestoreDir());
        WriteTask(Variables(), Items());
        fs::resize_file(RestoreDir() + "0000ABCD" + extension, uintmax_t{64} << 30);
        EXPECT_NE(RestoreError().find(" is 68719476736 bytes, more than the "), std::string::npos) << extension;
    }
}

}  // namespace
}  // namespace tarn
