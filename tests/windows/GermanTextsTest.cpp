// The German language file translates every text of every window: built once in English and
// once in German, no text a user reads stays the same, but for names and units.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/TaskTypes.h"
#include "tests/support/TestSupport.h"
#include "windows/FormDelTask.h"
#include "windows/FormDstFileExists.h"
#include "windows/FormNewTask.h"
#include "windows/FormSchedule.h"
#include "windows/FormSettings.h"
#include "windows/FormShutDown.h"
#include "windows/QtTranslation.h"

namespace tarn {
namespace {

// Texts that are the same in both languages: a word German shares, and the languages' own names.
const std::set<QString> SameInBoth = {"OK", "Deutsch", "English"};

// Every text of a window a user reads, by the control that shows it.
std::map<QString, QString> Texts(QWidget& window)
{
    std::map<QString, QString> texts{{"title", window.windowTitle()}};
    const auto add = [&](const QObject& owner, const QString& what, const QString& text) {
        texts[owner.objectName() + "." + what] = text;
    };
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        if (auto* label = qobject_cast<QLabel*>(widget)) add(*widget, "text", label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) add(*widget, "text", button->text());
        if (auto* group = qobject_cast<QGroupBox*>(widget)) add(*widget, "title", group->title());
        if (auto* combo = qobject_cast<QComboBox*>(widget); combo && !combo->isEditable())
            for (int i = 0; i < combo->count(); ++i) add(*widget, "item" + QString::number(i), combo->itemText(i));
        if (auto* tabs = qobject_cast<QTabWidget*>(widget))
            for (int i = 0; i < tabs->count(); ++i) add(*widget, "tab" + QString::number(i), tabs->tabText(i));
        add(*widget, "tip", widget->toolTip());
    }
    return texts;
}

// A text that needs words: letters outside paths, numbers and units.
bool HasWords(const QString& text)
{
    if (text.startsWith('/') || SameInBoth.count(text.trimmed())) return false;
    static const QRegularExpression word("[A-Za-z]{2,}");
    return word.match(text).hasMatch();
}

class GermanTextsTest : public test::TempFolderTest {
protected:
    std::unique_ptr<TSettingsStorage> Settings(const std::string& language)
    {
        auto settings = std::make_unique<TSettingsStorage>(
            RegistryLocation{temp / (language + ".ini"), temp / "system.ini"});
        settings->SetLanguage(language);
        return settings;
    }
    // Builds the window in both languages and lists the texts that stayed English.
    void ExpectTranslated(const char* name, const std::function<std::unique_ptr<QWidget>(TSettingsStorage&)>& make)
    {
        const auto english = Settings("English");
        const auto german = Settings("Deutsch");
        auto englishWindow = make(*english);
        auto germanWindow = make(*german);
        const auto before = Texts(*englishWindow);
        const auto after = Texts(*germanWindow);
        int checked = 0;
        for (const auto& [control, text] : before) {
            if (!HasWords(text)) continue;
            ++checked;
            const auto found = after.find(control);
            ASSERT_NE(found, after.end()) << name << ": " << control.toStdString();
            EXPECT_NE(found->second, text) << name << ": " << control.toStdString() << " stays \"" << text.toStdString()
                                           << "\"";
        }
        EXPECT_GT(checked, 2) << name;
    }

    std::vector<std::unique_ptr<TMsgList>> catalogues_;  // the windows keep a reference
};

TEST_F(GermanTextsTest, EveryWindowIsTranslated)
{
    ExpectTranslated("new task", [](TSettingsStorage& s) { return std::make_unique<TfrmNewTask>(nullptr, s, true); });
    ExpectTranslated("settings", [](TSettingsStorage& s) { return std::make_unique<TfrmSettings>(nullptr, 1, s); });
    ExpectTranslated("schedule", [](TSettingsStorage& s) { return std::make_unique<TfrmSchedule>(nullptr, s, 45000.5); });
    ExpectTranslated("delete task", [](TSettingsStorage& s) { return std::make_unique<TfrmDelTask>(nullptr, s); });
    ExpectTranslated("shut down", [](TSettingsStorage& s) { return std::make_unique<TfrmShutDown>(nullptr, s); });
    test::MakeFolders(temp / "src");
    test::MakeFolders(temp / "dst");
    test::WriteFile(temp / "src/f", "new");
    test::WriteFile(temp / "dst/f", "old!");
    ExpectTranslated("file exists", [&](TSettingsStorage& s) -> std::unique_ptr<QWidget> {
        catalogues_.push_back(std::make_unique<TMsgList>(s));
        return std::make_unique<TfrmDstFileExists>(nullptr, s, *catalogues_.back(), temp / "src/", temp / "dst/",
                                                   TItemAttrs{"", "f", 3, KindFile});
    });
}

// Qt's own texts follow the language, each change replacing the translation before it.
TEST_F(GermanTextsTest, TheKeyNamesOfShortcutsAreInTheLanguage)
{
    const std::pair<const char*, const char*> cases[] = {{"Deutsch", "Eingabe, Leertaste, Entf"},
                                                         {"English", "Return, Space, Del"},
                                                         {"Deutsch", "Eingabe, Leertaste, Entf"},
                                                         {"NoSuchLanguage", "Return, Space, Del"}};
    for (const auto& [language, keys] : cases) {
        InstallQtTranslation(*Settings(language));
        EXPECT_EQ(QKeySequence(Qt::Key_Return, Qt::Key_Space, Qt::Key_Delete).toString(QKeySequence::NativeText),
                  keys)
            << language;
    }
}

}  // namespace
}  // namespace tarn
