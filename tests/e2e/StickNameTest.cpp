// Names on USB sticks: FAT32 and exFAT refuse some characters and fold letter case. A name the
// stick cannot hold is left out at once with its reason, and the run exits with status 2; what it
// can hold ends byte-identical, read back from the image after a remount. Needs root and FUSE;
// elsewhere each test is skipped with the reason.
#include <filesystem>
#include <map>

#include "tests/e2e/StickTest.h"

namespace tarn {
namespace {

using test::FuseStick;
using test::MakeFolders;
using test::RandomBytes;
using test::ReadFile;
using test::StickTest;
using test::WriteFile;
namespace fs = std::filesystem;
using Kind = FuseStick::Kind;

struct CaseFoldCase {
    Kind kind;
    const char* onExists;
};

void PrintTo(const CaseFoldCase& c, std::ostream* out) { *out << test::KindName(c.kind) << " " << c.onExists; }

class CaseFoldTest : public StickTest, public ::testing::WithParamInterface<CaseFoldCase> {
protected:
    void SetUp() override { MountStick(GetParam().kind); }
};

// "Case" and "case" are one file on the stick: one of them is copied whole, the other is left
// out with a message that names both, whatever the answer for existing files.
TEST_P(CaseFoldTest, OneOfTwoNamesThatDifferInCaseIsLeftOut)
{
    const std::map<std::string, std::string> sources = {{"Case", RandomBytes(200000, 1)},
                                                        {"case", RandomBytes(3000, 2)}};
    MakeFolders(temp / "src");
    for (const auto& [name, bytes] : sources) WriteFile(temp / "src/" + name, bytes);
    WriteFile(temp / "src/other", "other");
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--on-exists", GetParam().onExists, "--delay-on-error", "60000", "--max-errors", "0",
                       temp / "src", stick_->Path()},
                      &errors),
              2)
        << errors;
    EXPECT_EQ(errors.find("failed after"), std::string::npos) << errors;
    ASSERT_TRUE(stick_->Remount());

    const std::vector<std::string> onStick = test::NamesOnDisk(stick_->Path() + "src");
    ASSERT_EQ(onStick.size(), 2u) << ::testing::PrintToString(onStick);
    EXPECT_EQ(ReadFile(stick_->Path() + "src/other"), "other");
    const std::string kept = onStick[0] == "other" ? onStick[1] : onStick[0];
    ASSERT_TRUE(sources.count(kept)) << kept;
    const std::string leftOut = kept == "Case" ? "case" : "Case";
    // Never a mix, never the other's bytes under this name.
    EXPECT_TRUE(ReadFile(stick_->Path() + "src/" + kept) == sources.at(kept)) << kept;
    bool namedTogether = false;
    for (const auto& line : LogLinesNaming(leftOut)) {
        namedTogether = namedTogether || Names(line, kept);
        EXPECT_EQ(line.find("was copied"), std::string::npos) << line;
    }
    EXPECT_TRUE(namedTogether) << Log();
}

INSTANTIATE_TEST_SUITE_P(Sticks, CaseFoldTest,
                         ::testing::Values(CaseFoldCase{Kind::Fat32, "upload"}, CaseFoldCase{Kind::Fat32, "overwrite"},
                                           CaseFoldCase{Kind::Fat32, "skip"}, CaseFoldCase{Kind::ExFat, "upload"},
                                           CaseFoldCase{Kind::ExFat, "overwrite"}, CaseFoldCase{Kind::ExFat, "skip"}),
                         [](const auto& info) {
                             return std::string(test::KindName(info.param.kind)) + "_" + info.param.onExists;
                         });

class RefusedNameTest : public StickTest, public ::testing::WithParamInterface<Kind> {
protected:
    void SetUp() override { MountStick(GetParam()); }
};

// Names the stick refuses are left out at once with their reason, not retried: the copies run
// with --max-errors 0, so that an error where a left-out belongs fails the task at once instead
// of retrying (after a minute, --delay-on-error) into the test's timeout. The rest arrives whole.
// No name is too long: a Linux name of at most 255 bytes has at most 255 characters.
TEST_P(RefusedNameTest, NamesTheStickRefusesAreLeftOutAtOnce)
{
    const std::vector<std::string> refused = {"time 10:30", "why?", "say \"hi\"", "a|b"};
    const std::vector<std::string> fine = {"plain.bin", "sub/inner.txt", "sub/deeper/last"};
    MakeFolders(temp / "src/sub/deeper");
    unsigned seed = 1;
    for (const auto& name : refused) WriteFile(temp / "src/" + name, RandomBytes(5000, seed++));
    for (const auto& name : fine) WriteFile(temp / "src/" + name, RandomBytes(70000, seed++));

    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--delay-on-error", "60000", "--max-errors", "0", temp / "src", stick_->Path()},
                      &errors),
              2)
        << errors;
    EXPECT_EQ(errors.find("failed after"), std::string::npos) << errors;
    for (const auto& name : refused) {
        const auto lines = LogLinesNaming(name);
        EXPECT_FALSE(lines.empty()) << name << "\n" << Log();
        for (const auto& line : lines) EXPECT_NE(line.find("left out"), std::string::npos) << line;
    }
    ASSERT_TRUE(stick_->Remount());
    for (const auto& name : fine) {
        const std::string copy = stick_->Path() + "src/" + name;
        EXPECT_TRUE(fs::exists(copy) && ReadFile(copy) == ReadFile(temp / "src/" + name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Sticks, RefusedNameTest, ::testing::Values(Kind::Fat32, Kind::ExFat),
                         [](const auto& info) { return std::string(test::KindName(info.param)); });

}  // namespace
}  // namespace tarn
