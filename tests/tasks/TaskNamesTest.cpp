#include "tasks/TaskNames.h"

#include <cctype>
#include <set>

#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using test::TempFolderTest;
using test::WriteFile;

class TaskNamesTest : public TempFolderTest {};

TEST_F(TaskNamesTest, NamesAreEightUpperHexDigitsAndNeverTaken)
{
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        const std::string name = NewTaskName(temp.Path(), [&](const std::string& n) { return names.count(n) > 0; });
        ASSERT_EQ(name.size(), 8u);
        for (char c : name) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F')) << name;
        EXPECT_TRUE(names.insert(name).second);
    }
}

TEST_F(TaskNamesTest, ANameTakenByAFileOrATaskIsDrawnAgain)
{
    std::mt19937 first(42);
    const std::string name = DrawTaskName(temp.Path(), nullptr, first);
    for (const char* extension : {".log", ".var", ".con"}) {
        WriteFile(temp / (name + extension), "");  // a single stray file of an earlier task
        std::mt19937 same(42);
        EXPECT_NE(DrawTaskName(temp.Path(), nullptr, same), name) << extension;
        std::remove((temp / (name + extension)).c_str());
    }
    std::mt19937 again(42);
    EXPECT_NE(DrawTaskName(temp.Path(), [&](const std::string& n) { return n == name; }, again), name);
}

}  // namespace
}  // namespace tarn
