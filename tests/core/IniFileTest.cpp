#include "core/IniFile.h"

#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using Entries = std::vector<IniFile::Entry>;

TEST(IniFileTest, LinesSplitAtTheFirstEqualsSign)
{
    const IniFile file = IniFile::Parse("\xEF\xBB\xBF"
                                        "ignored=before any section\r\n"
                                        "[TMsgList]\r\n"
                                        "  Err001 =  a = b = c  \r\n"
                                        "; a comment=no entry\r\n"
                                        "# another=no entry\r\n"
                                        "no equals sign\r\n"
                                        "=no key\r\n"
                                        "Empty=\r\n"
                                        "[ Other ]\n"
                                        "k=v");
    EXPECT_EQ(file.Section("TMsgList"), (Entries{{"Err001", "a = b = c"}, {"Empty", ""}}));
    EXPECT_EQ(file.Section("other"), (Entries{{"k", "v"}}));
    EXPECT_TRUE(file.Section("missing").empty());
}

TEST(IniFileTest, NamesMatchWithoutCaseAndTheFirstOneCounts)
{
    const IniFile file = IniFile::Parse("[tmsglist]\nerr001=first\nERR001=second\n"
                                        "[Form]\nx=1\n"
                                        "[TMSGLIST]\nErr002=merged\nErr001=third\n");
    EXPECT_EQ(file.Value("TMsgList", "Err001"), "first");
    EXPECT_EQ(file.Value("TMsgList", "err002"), "merged");
    EXPECT_EQ(file.Value("FORM", "X"), "1");
    EXPECT_FALSE(file.Value("Form", "y").has_value());
}

TEST(IniFileTest, AMissingFileCannotBeLoaded)
{
    test::TempFolder temp;
    EXPECT_FALSE(IniFile::Load(temp / "missing.lng").has_value());
    EXPECT_FALSE(IniFile::Load(temp.Path()).has_value());
    test::WriteFile(temp / "empty.lng", "");
    ASSERT_TRUE(IniFile::Load(temp / "empty.lng").has_value());
}

}  // namespace
}  // namespace tarn
