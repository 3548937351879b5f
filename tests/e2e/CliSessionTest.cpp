#include "app/CliSession.h"

#include "app/CopyArguments.h"
#include "platform/FaultInjection.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

TEST(CopyArgumentsTest, ByteCountsTakeBinaryUnits)
{
    const struct {
        const char* text;
        int64_t value;
    } good[] = {
        {"0", 0},           {"500", 500},           {"500K", 512000},       {"500k", 512000},
        {"10M", 10485760},  {"1G", 1073741824},     {"4MiB", 4194304},      {"4mib", 4194304},
        {"2KB", 2048},      {"2kb", 2048},          {"99999999999999999999", INT64_MAX},
        {"9999999999G", INT64_MAX},
    };
    for (const auto& [text, value] : good) {
        int64_t parsed = -1;
        EXPECT_TRUE(ParseByteCount(text, parsed)) << text;
        EXPECT_EQ(parsed, value) << text;
    }
    for (const char* text : {"", "K", "-1", "+5", "1.5M", "5T", "5KiBB", "5 K", "5Ki", "5B", "0x10"}) {
        int64_t parsed = 0;
        EXPECT_FALSE(ParseByteCount(text, parsed)) << text;
    }
}

class CliSessionTest : public test::TempFolderTest {
protected:
    void TearDown() override { ClearFaults(); }
};

TEST_F(CliSessionTest, AFailedRunEndsTheCommandWithItsReason)
{
    test::WriteFile(temp / "f", "data");
    CopyArguments arguments;
    arguments.Sources = {temp / "f"};
    arguments.Destination = temp / "out";
    arguments.RestoreDir = temp / "restore";
    InjectFault(FaultOp::Allocate, "", ENOMEM);  // the copy buffer cannot be had
    testing::internal::CaptureStderr();
    const int status = CliSession(arguments).Copy();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, ExitTaskFailed);
    EXPECT_NE(errors.find(". File \"f\" source \"" + temp.Path() + "\""), std::string::npos) << errors;  // Err005
    EXPECT_NE(errors.find("\"" + temp / "f\" failed; it stays in \"" + temp / "restore/\" for tarnctl resume"),
              std::string::npos)
        << errors;
}

}  // namespace
}  // namespace tarn
