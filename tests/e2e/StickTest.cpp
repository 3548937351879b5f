// Copies onto FAT32 and exFAT sticks mounted through FUSE, read back after a remount. Needs root
// and FUSE; elsewhere each test is skipped. A kill on a stick is a row of the kill campaign.
#include <sstream>

#include "tests/e2e/E2eSupport.h"
#include "tests/support/FuseStick.h"

namespace tarn {
namespace {

using namespace test;
using Kind = FuseStick::Kind;

// The lines of `log` that name `name` as a file or the end of a path.
std::vector<std::string> LinesNaming(const std::string& log, const std::string& name)
{
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.find('"' + name + '"') != npos || line.find('/' + name + '"') != npos) lines.push_back(line);
    return lines;
}

class StickTest : public CommandTest {
protected:
    void MountStick(Kind kind, uint64_t size = uint64_t{512} << 20)
    {
        std::string why;
        stick_ = FuseStick::Make(kind, temp.Path(), &why, size);
        if (!stick_) GTEST_SKIP() << why;
    }
    std::unique_ptr<FuseStick> stick_;
};

struct NameCase {
    Kind kind;
    const char* onExists;
};

class StickNameTest : public StickTest, public ::testing::WithParamInterface<NameCase> {
protected:
    void SetUp() override { MountStick(GetParam().kind); }
};

// Names the stick refuses are left out at once, not retried (--max-errors 0). "Case" and "case" are
// one file there: one is copied whole, the other left out with a message that names both.
TEST_P(StickNameTest, NamesTheStickCannotHoldAreLeftOutAtOnce)
{
    const std::vector<std::string> refused = {"time 10:30", "why?", "say \"hi\"", "a|b"};
    const std::vector<std::string> fine = {"plain.bin", "sub/inner.txt", "sub/deeper/last"};
    const std::map<std::string, std::string> cased = {{"Case", RandomBytes(200000, 1)}, {"case", RandomBytes(3000, 2)}};
    MakeFolders(temp / "src/sub/deeper");
    unsigned seed = 3;
    for (const auto& name : refused) WriteFile(temp / "src/" + name, RandomBytes(5000, seed++));
    for (const auto& name : fine) WriteFile(temp / "src/" + name, RandomBytes(70000, seed++));
    for (const auto& [name, bytes] : cased) WriteFile(temp / "src/" + name, bytes);
    // The stick keeps no links: a symbolic one is left out, another name of a file is a file of its own.
    fs::create_symlink("inner.txt", temp / "src/sub/link");
    fs::create_hard_link(temp / "src/sub/inner.txt", temp / "src/sub/inner-again");
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", "--hard-links", "--on-exists",
                       GetParam().onExists, "--delay-on-error", "60000", "--max-errors", "0", temp / "src",
                       stick_->Path()}, &errors), 2) << errors;
    EXPECT_EQ(errors.find("failed after"), npos) << errors;
    const std::string log = ReadIfAny(temp / "restore/tarn_log.txt");
    for (const auto& name : {refused[0], refused[1], refused[2], refused[3], std::string("link")}) {
        const auto lines = LinesNaming(log, name);
        EXPECT_FALSE(lines.empty()) << name << "\n" << log;
        for (const auto& line : lines) EXPECT_NE(line.find("left out"), npos) << line;
    }
    ASSERT_TRUE(stick_->Remount());
    for (const std::string& name : {fine[0], fine[1], fine[2], std::string("sub/inner-again")}) {
        const std::string copy = stick_->Path() + "src/" + name;
        EXPECT_TRUE(fs::exists(copy) && ReadFile(copy) == ReadFile(temp / "src/" + name)) << name;
    }
    std::vector<std::string> kept;
    for (const auto& name : NamesOnDisk(stick_->Path() + "src"))
        if (cased.count(name)) kept.push_back(name);
    ASSERT_EQ(kept.size(), 1u) << ::testing::PrintToString(NamesOnDisk(stick_->Path() + "src"));
    // Never a mix, never the other's bytes under this name.
    EXPECT_TRUE(ReadFile(stick_->Path() + "src/" + kept[0]) == cased.at(kept[0])) << kept[0];
    bool namedTogether = false;
    for (const auto& line : LinesNaming(log, kept[0] == "Case" ? "case" : "Case")) {
        namedTogether = namedTogether || !LinesNaming(line, kept[0]).empty();
        EXPECT_EQ(line.find("was copied"), npos) << line;
    }
    EXPECT_TRUE(namedTogether) << log;
}

INSTANTIATE_TEST_SUITE_P(Sticks, StickNameTest,
                         ::testing::Values(NameCase{Kind::Fat32, "upload"}, NameCase{Kind::Fat32, "overwrite"},
                                           NameCase{Kind::Fat32, "skip"}, NameCase{Kind::ExFat, "upload"},
                                           NameCase{Kind::ExFat, "overwrite"}, NameCase{Kind::ExFat, "skip"}),
                         [](const auto& info) {
                             return std::string(KindName(info.param.kind)) + "_" + info.param.onExists;
                         });

// FAT32 holds files up to 4 GiB - 1 byte: a bigger one is never reported copied unless the stick
// holds all of it. The stick is small, so that a copy of the whole file meets its end soon.
TEST_F(StickTest, AFileOf4GiBOrMoreIsNotReportedCopiedOnFat32)
{
    MountStick(Kind::Fat32, uint64_t{128} << 20);
    if (IsSkipped()) return;
    const uint64_t size = (uint64_t{47} << 30) / 10;
    MakeFolders(temp / "src");
    WriteFile(temp / "src/huge", "");
    fs::resize_file(temp / "src/huge", size);  // sparse
    std::string errors;
    const int status = Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", "--delay-on-error", "100",
                                "--max-errors", "2", temp / "src", stick_->Path()}, &errors);
    ASSERT_TRUE(stick_->Remount());
    const std::string huge = stick_->Path() + "src/huge";
    const bool whole = fs::exists(huge) && fs::file_size(huge) == size;
    EXPECT_TRUE(status == 2 || (status == 0 && whole)) << status << errors;
    const std::string log = ReadIfAny(temp / "restore/tarn_log.txt");
    const auto lines = LinesNaming(log, "huge");
    EXPECT_TRUE(!lines.empty() || errors.find("\"huge\"") != npos) << errors << log;
    for (const auto& line : lines) EXPECT_TRUE(whole || line.find("was copied") == npos) << line;
}

}  // namespace
}  // namespace tarn
