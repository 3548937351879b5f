// Honest results where a destination or a source does not do what the copy asks: errors no
// wait mends leave their item out at once and the task goes on, a file another task writes is
// waited for, and what vanished after the scan is left out, not retried for ever. (Names that
// a stick folds together are tried on real sticks in tests/e2e/StickNameTest.cpp.)
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "platform/FaultInjection.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn {
namespace {

using namespace test;
namespace fs = std::filesystem;

class DestinationResultTest : public EngineTest {
protected:
    // A retry would wait this long: a test that finishes has taken none.
    static constexpr TaskSetup NoRetry{.delayOnError = 600000};
};

TEST_F(DestinationResultTest, ErrorsNoWaitMendsLeaveTheirItemOutAtOnce)
{
    // As a FAT stick answers a name it refuses, a name too long, a file over 4 GiB, an
    // attribute it cannot keep; a folder whose name it refuses takes its files with it; and no
    // wait gives the user the right to read a source file.
    struct Case {
        FaultOp op;
        const char* path;
        int error;
        int leftOut;
    };
    const Case cases[] = {{FaultOp::Open, "dst/tree/bad", EINVAL, 1},
                          {FaultOp::Open, "dst/tree/bad", ENAMETOOLONG, 1},
                          {FaultOp::Open, "dst/tree/bad", EILSEQ, 1},
                          {FaultOp::Write, "dst/tree/bad", EFBIG, 1},
                          {FaultOp::Open, "dst/tree/sub", EINVAL, 2},
                          {FaultOp::Open, "src/tree/bad", EACCES, 1}};
    MakeFolders(Src() + "tree/sub");
    WriteFile(Src() + "tree/good", RandomBytes(100000, 1));
    WriteFile(Src() + "tree/bad", RandomBytes(300000, 2));
    WriteFile(Src() + "tree/sub/inner", "x");
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        fs::remove_all(Dst() + "tree");
        InjectFault(c.op, c.path, c.error, 1000000);
        auto task = NewTask(Src() + "tree", Dst(), NoRetry, "0000000" + std::to_string(i + 1));
        ASSERT_TRUE(WaitForState(*task, StateFinished)) << c.path << " " << c.error;
        ClearFaults();
        EXPECT_EQ(task->GetErrorCount(), 0) << c.error;
        EXPECT_EQ(task->GetLeftOutCount(), c.leftOut) << c.error;
        EXPECT_TRUE(Logged(*task, "Err010", SystemErrorText(c.error)) || Logged(*task, "Err010", "could not be made"));
        EXPECT_EQ(ReadFile(Dst() + "tree/good"), ReadFile(Src() + "tree/good"));
        EXPECT_FALSE(fs::exists(Dst() + "tree/bad") && c.op == FaultOp::Write);  // no partial copy stays
    }
}

TEST_F(DestinationResultTest, AFileAnotherTaskWritesIsWaitedFor)
{
    WriteFile(Src() + "f", RandomBytes(100000, 1));
    WriteFile(Dst() + "f", "being written");
    const int other = ::open((Dst() + "f").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);
    auto task = NewTask(Src() + "f", Dst());
    ASSERT_TRUE(WaitUntil([&] { return task->IsWaitingForAnswer(); }));
    task->Answer(AnswerOverwrite);
    ASSERT_TRUE(WaitForLog(*task, "Err005", 2));
    EXPECT_TRUE(Logged(*task, "Err005", "Another task is writing this file"));
    EXPECT_EQ(ReadFile(Dst() + "f"), "being written");  // not emptied under the other
    ::close(other);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(ReadFile(Dst() + "f"), ReadFile(Src() + "f"));
}

TEST_F(DestinationResultTest, WhatVanishedFromAStillPresentSourceIsLeftOut)
{
    MakeFolders(Src() + "tree/gone");
    MakeFolders(Src() + "tree/kept");
    WriteFile(Src() + "tree/a", "a");
    WriteFile(Src() + "tree/kept/b", "b");
    WriteFile(Src() + "tree/gone/f", "f");
    WriteFile(Src() + "tree/z", "z");
    StallOn(FaultOp::Open, "src/tree/a");
    auto task = NewTask(Src() + "tree", Dst(), NoRetry);
    ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    fs::remove(Src() + "tree/kept/b");
    fs::remove_all(Src() + "tree/gone");
    ReleaseStalls();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(task->GetLeftOutCount(), 2);
    EXPECT_TRUE(Logged(*task, "Err010", "Its folder vanished"));
    EXPECT_TRUE(Logged(*task, "Err010", "The file vanished after the scan"));
    EXPECT_FALSE(fs::exists(Dst() + "tree/kept/b"));
    EXPECT_EQ(ReadFile(Dst() + "tree/z"), "z");
}

TEST_F(DestinationResultTest, ASourceNamedByDotsNeverLeadsOutOfTheDestination)
{
    // Front ends give real paths; a task given "tree/.." anyway copies nothing beside "in/".
    MakeFolders(Src() + "tree");
    WriteFile(Src() + "tree/f", "x");
    const char* tails[] = {"tree/..", "tree/."};
    for (size_t i = 0; i < std::size(tails); ++i) {
        auto task = NewTask(Src() + tails[i], Dst() + "in/", {}, "0000000" + std::to_string(i + 1));
        ASSERT_TRUE(WaitUntil([&] { return task->HasRunFailed() && Logged(*task, "Err005", "own path"); }));
        EXPECT_EQ(test::NamesOnDisk(Dst()), std::vector<std::string>{}) << tails[i];
    }
}

}  // namespace
}  // namespace tarn
