#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FaultInjection.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn {
namespace {

using test::EngineTest;
using test::MakeFolders;
using test::RandomBytes;
using test::ReadFile;
using test::TaskSetup;
using test::WaitUntil;
using test::WriteFile;

class VerifiedCopyTest : public EngineTest {
protected:
    void TearDown() override
    {
        ::unsetenv("TARN_READ_AHEAD");
        EngineTest::TearDown();
    }
    static TaskSetup Verifying()
    {
        TaskSetup setup;
        setup.verifyCopies = true;
        setup.bufferSize = 16384;
        return setup;
    }
    // The verification record's numbers: files and bytes.
    static std::vector<std::string> VerifiedCounts(const TDownloadThread& task)
    {
        for (const TMsg& record : Log(task))
            if (record.Id == "Inf028") return record.Params;
        return {};
    }
};

// Each way the source's hash is had: one file's read-back gives zeros, which the comparison
// finds; that file alone is copied again, and the tree arrives whole and verified.
TEST_F(VerifiedCopyTest, EveryCopyPathReadsBackAndCopiesAgainWhatDiffers)
{
    struct Case {
        const char* name;
        bool readAhead;  // bytes a helper read, written from memory
        bool sparse;     // the big file's holes are skipped, so its source is read again
    };
    const Case cases[] = {
        {"the copy's own reads", false, false},
        {"read ahead", true, false},
        {"holes skipped", false, true},
    };
    const std::string big = RandomBytes(300000, 7);
    const std::string small = RandomBytes(5000, 8);
    int taskNumber = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tree = "t" + std::to_string(++taskNumber);
        if (c.readAhead) ::setenv("TARN_READ_AHEAD", "always", 1);
        MakeFolders(Src() + tree + "/d");
        WriteFile(Src() + tree + "/big", big);
        WriteFile(Src() + tree + "/d/small", small);
        WriteFile(Src() + tree + "/d/empty", "");
        if (c.sparse) std::filesystem::resize_file(Src() + tree + "/big", 4 * 1024 * 1024);
        InjectFault(FaultOp::Read, "dst/" + tree + "/d/small", FaultZeroData);
        auto task = NewTask(Src() + tree, Dst(), Verifying(), "0000000" + std::to_string(taskNumber));
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_EQ(CountId(*task, "Err013"), 1);
        EXPECT_TRUE(Logged(*task, "Err013", Dst() + tree + "/d/small"));
        EXPECT_EQ(CountId(*task, "Inf007"), 3);
        const std::string bigThere = ReadFile(Src() + tree + "/big");
        EXPECT_EQ(VerifiedCounts(*task), (std::vector<std::string>{"3", std::to_string(bigThere.size() + small.size())}));
        EXPECT_TRUE(ReadFile(Dst() + tree + "/big") == bigThere);
        EXPECT_TRUE(ReadFile(Dst() + tree + "/d/small") == small);
    }
}

TEST_F(VerifiedCopyTest, ACopyChangedBeforeItIsReadBackIsCopiedAgain)
{
    const std::string data = RandomBytes(100000, 9);
    WriteFile(Src() + "f", data);
    StallOn(FaultOp::Read, "dst/f");
    auto task = NewTask(Src() + "f", Dst(), Verifying());
    ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    EXPECT_EQ(CountId(*task, "Inf007"), 0);
    {
        std::fstream copy(Dst() + "f", std::ios::in | std::ios::out | std::ios::binary);
        copy.seekp(70000);
        copy.write("changed", 7);
    }
    ReleaseStalls();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_TRUE(Logged(*task, "Err013", Dst() + "f"));
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
    EXPECT_EQ(VerifiedCounts(*task), (std::vector<std::string>{"1", "100000"}));
}

// A copy that differs at every read-back counts an error each time, toward the task's limit.
TEST_F(VerifiedCopyTest, EachReadBackThatDiffersCountsAnError)
{
    const std::string data = RandomBytes(10000, 11);  // one read a read-back
    WriteFile(Src() + "f", data);
    InjectFault(FaultOp::Read, "dst/f", FaultZeroData, 2);
    StallOn(FaultOp::Open, "src/f", 2);  // the third copy, after two that differed
    auto task = NewTask(Src() + "f", Dst(), Verifying());
    ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    EXPECT_EQ(task->GetErrorCount(), 2);
    EXPECT_EQ(CountId(*task, "Err013"), 2);
    ReleaseStalls();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
}

// A stop while the copy is read back leaves the file uncounted, whether it was read back at once
// or waited for the files after it; the restored task reads it back before it counts it.
TEST_F(VerifiedCopyTest, AStopDuringTheReadBackVerifiesAgainAfterTheRestore)
{
    // The big one takes more than one read, so that the stop comes between them.
    for (const int size : {5 * 1024 * 1024, 100000}) {
        SCOPED_TRACE(size);
        const std::string data = RandomBytes(size, 10);
        WriteFile(Src() + "f", data);
        StallOn(FaultOp::Read, "dst/f");
        auto task = NewTask(Src() + "f", Dst(), Verifying());
        ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
        task->Stop();
        ReleaseStalls();
        task->WaitFor();
        EXPECT_EQ(CountId(*task, "Inf007"), 0);
        EXPECT_EQ(task->GetVerifiedFileCount(), 0);
        task.reset();

        InjectFault(FaultOp::Read, "dst/f", FaultZeroData);
        auto restored = RestoreTask();
        ASSERT_TRUE(WaitForState(*restored, StateFinished));
        EXPECT_EQ(CountId(*restored, "Err013"), 1);
        EXPECT_EQ(CountId(*restored, "Inf007"), 1);
        EXPECT_TRUE(ReadFile(Dst() + "f") == data);
        EXPECT_EQ(VerifiedCounts(*restored), (std::vector<std::string>{"1", std::to_string(data.size())}));
        restored.reset();
        ClearFaults();
        std::filesystem::remove_all(Dst());
        std::filesystem::remove_all(RestoreDir());
        MakeFolders(Dst());
        MakeFolders(RestoreDir());
    }
}

}  // namespace
}  // namespace tarn
