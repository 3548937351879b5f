// The picker for a source not yet known to be a file or a folder returns whichever the user
// selected, and the folder it shows when nothing is selected.
#include <QFileDialog>
#include <QLineEdit>

#include "tests/windows/QuestionDialogTesting.h"
#include "windows/FileOrFolderDialog.h"

namespace tarn {
namespace {

class FileOrFolderDialogTest : public test::TempFolderTest {};

TEST_F(FileOrFolderDialogTest, ReturnsTheSelectedFileOrFolder)
{
    test::MakeFolders(temp / "shown/folder");
    test::WriteFile(temp / "shown/file.bin", "x");
    for (const std::string name : {"file.bin", "folder", ""}) {
        test::AnswerNextModal([&](QWidget& window) {
            auto& picker = static_cast<QFileDialog&>(window);
            picker.setDirectory(QString::fromStdString(temp / "shown"));
            picker.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromStdString(name));
            static_cast<QDialog&>(picker).accept();
        });
        const std::string expected = name.empty() ? temp / "shown" : temp / ("shown/" + name);
        EXPECT_EQ(TFileOrFolderDialog::Ask(nullptr, QStringLiteral("Change Source")).toStdString(), expected) << name;
    }
}

}  // namespace
}  // namespace tarn
