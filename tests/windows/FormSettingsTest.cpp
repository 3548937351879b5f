#include "windows/FormSettings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <cstdlib>
#include <functional>
#include <string>

#include "core/SettingsStorage.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

// Takes the URLs the desktop would open, so that no browser starts.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> Urls;

public slots:
    void Open(const QUrl& url) { Urls.append(url); }
};

// Each test has its own settings file, installation folder (RootDir) and XDG folders.
class FormSettingsTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        registry.UserFile = temp / "user.ini";
        registry.SystemFile = temp / "system.ini";
        test::UsePrivateUserFolders(temp);
        Store("");
    }

    // The settings file with these lines of the "Settings" key.
    void Store(const std::string& settingsLines)
    {
        test::WriteFile(registry.UserFile, "[General]\nRootDir=" + temp.Path() + "\n[Settings]\n" + settingsLines);
    }

    template <typename Widget>
    static Widget* Child(QWidget& dialog, const char* name)
    {
        auto* child = dialog.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    static void ExpectNoMark(const TSettingsStorage& s)
    {
        for (const bool mark :
             {s.LanguageChanged(), s.RestorePathChanged(), s.RestoreUpdateIntervalChanged(), s.DelayOnErrorChanged(),
              s.AutoDeleteFinishedChanged(), s.LogFileChanged(), s.AutoActionChanged(), s.AutoActionDelayChanged(),
              s.CountOfErrorsForSkipChanged(), s.BufferSizeChanged(), s.AutoRunChanged(),
              s.EnableContextMenuChanged(), s.MaxLinkSpeedChanged(), s.EnableQuickInfoChanged(),
              s.MinimizeInsteadCloseChanged(), s.VerifyCopiesChanged()})
            EXPECT_FALSE(mark);
    }

    RegistryLocation registry;
};

TEST_F(FormSettingsTest, ControlsShowStoredValuesInTheirUnitsAndOkStoresWholeUnits)
{
    Store("BufferSize=65536\nAutoActionDelay=30500\nMaxLinkSpeed=2000000\nRestoreUpdateInterval=20999\n"
          "DelayOnError=15000\nCountOfErrorsForSkip=7\nAutoAction=5\nAutoDeleteFinished=1\nAutoRun=0\nVerifyCopies=1\n");
    TSettingsStorage settings(registry);
    TfrmSettings dialog(nullptr, 0, settings);

    EXPECT_EQ(Child<QSpinBox>(dialog, "seBufferSize")->value(), 64);
    EXPECT_EQ(Child<QSpinBox>(dialog, "seAutoActionDelay")->value(), 30);
    EXPECT_EQ(Child<QSpinBox>(dialog, "seRestoreUpdateInterval")->value(), 20);
    EXPECT_EQ(Child<QSpinBox>(dialog, "seDelayOnError")->value(), 15000);
    EXPECT_EQ(Child<QSpinBox>(dialog, "seCountOfErrorsForSkip")->value(), 7);
    EXPECT_EQ(Child<QComboBox>(dialog, "cbConnectionSpeed")->currentText(), "100 Mbit per second");
    EXPECT_EQ(Child<QComboBox>(dialog, "cbAutoActionOnDstFileExists")->currentText(), "Skip");
    EXPECT_TRUE(Child<QCheckBox>(dialog, "chkAutoDelFinished")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(dialog, "chkVerifyCopies")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(dialog, "chkAutoRun")->isChecked());

    dialog.accept();
    // What a whole number of units shows comes back unchanged; the rest is cut to whole units.
    EXPECT_EQ(settings.BufferSize(), 65536);
    EXPECT_FALSE(settings.BufferSizeChanged());
    EXPECT_EQ(settings.AutoActionDelay(), 30000);
    EXPECT_TRUE(settings.AutoActionDelayChanged());
    EXPECT_EQ(settings.RestoreUpdateInterval(), 20000);
    EXPECT_TRUE(settings.RestoreUpdateIntervalChanged());
    EXPECT_EQ(settings.MaxLinkSpeed(), LinkSpeed100Mbit);
    EXPECT_TRUE(settings.MaxLinkSpeedChanged());
    EXPECT_FALSE(settings.DelayOnErrorChanged());
    EXPECT_FALSE(settings.AutoActionChanged());
}

TEST_F(FormSettingsTest, ValuesWithoutAnEntryOrOutsideTheRangesAreNotWrittenBack)
{
    // Loading bypasses the setters, so the file may hold what no control can show.
    Store("AutoAction=4\nDelayOnError=-5\nBufferSize=0\nMaxLinkSpeed=-1\n");
    TSettingsStorage settings(registry);
    TfrmSettings dialog(nullptr, 0, settings);
    EXPECT_EQ(Child<QComboBox>(dialog, "cbAutoActionOnDstFileExists")->currentIndex(), -1);
    EXPECT_EQ(Child<QComboBox>(dialog, "cbConnectionSpeed")->currentText(), "1 Mbit per second");

    dialog.accept();
    EXPECT_EQ(settings.AutoAction(), 4);  // nothing selected: no change
    EXPECT_FALSE(settings.AutoActionChanged());
    // A spin box holds its range: the nearest value it can show is what OK stores.
    EXPECT_EQ(settings.DelayOnError(), 0);
    EXPECT_EQ(settings.BufferSize(), 1024);
    EXPECT_EQ(settings.MaxLinkSpeed(), LinkSpeed1Mbit);
}

TEST_F(FormSettingsTest, OkWithNothingChangedMarksNothingAndWritesNothing)
{
    test::MakeFolders(temp / "Lang");
    test::WriteFile(temp / "Lang/Deutsch.lng", "");
    // The defaults, and stored values that differ from them only in letter case or delimiters.
    for (const char* stored : {"", "Language=deutsch\nAutoAction=1\nMaxLinkSpeed=125000000\nLogFile=/srv/Log/tarn.txt\n"
                                   "RestorePath=/srv/r\n"}) {
        SCOPED_TRACE(stored);
        Store(stored);
        const std::string before = test::ReadFile(registry.UserFile);
        TSettingsStorage settings(registry);
        TfrmSettings dialog(nullptr, 0, settings);
        dialog.show();
        EXPECT_EQ(dialog.focusWidget(), Child<QComboBox>(dialog, "cbLanguage"));
        QTest::keyClick(&dialog, Qt::Key_Return);  // the default button
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        ExpectNoMark(settings);
        settings.SaveToRegistry();
        EXPECT_EQ(test::ReadFile(registry.UserFile), before);
    }
}

TEST_F(FormSettingsTest, OkPutsEveryEditedControlIntoTheSettings)
{
    test::MakeFolders(temp / "Lang");
    test::WriteFile(temp / "Lang/Deutsch.lng", "");
    TSettingsStorage settings(registry);
    TfrmSettings dialog(nullptr, 0, settings);
    auto* languages = Child<QComboBox>(dialog, "cbLanguage");
    ASSERT_EQ(languages->count(), 2);
    EXPECT_EQ(languages->itemText(0), "Deutsch");
    EXPECT_EQ(languages->currentText(), "English");

    languages->setCurrentIndex(0);
    Child<QComboBox>(dialog, "cbConnectionSpeed")->setCurrentIndex(3);
    Child<QComboBox>(dialog, "cbAutoActionOnDstFileExists")->setCurrentIndex(1);
    Child<QLineEdit>(dialog, "edtLogFile")->setText("/srv/log/tarn.txt");
    Child<QLineEdit>(dialog, "edtRestorePath")->setText("/srv/restore");  // as a folder browser gives it
    Child<QCheckBox>(dialog, "chkEnableQuickInfo")->setChecked(false);
    Child<QCheckBox>(dialog, "chkVerifyCopies")->setChecked(true);
    Child<QSpinBox>(dialog, "seBufferSize")->setValue(4096);
    Child<QSpinBox>(dialog, "seDelayOnError")->setValue(1000000000);
    Child<QSpinBox>(dialog, "seCountOfErrorsForSkip")->setValue(100000);
    Child<QSpinBox>(dialog, "seAutoActionDelay")->setValue(1000);
    Child<QSpinBox>(dialog, "seRestoreUpdateInterval")->setValue(3);
    Child<QPushButton>(dialog, "btnOK")->click();

    EXPECT_EQ(settings.Language(), "Deutsch");
    EXPECT_EQ(settings.MaxLinkSpeed(), LinkSpeed1Gbit);
    EXPECT_EQ(settings.AutoAction(), 1);
    EXPECT_EQ(settings.LogFile(), "/srv/log/tarn.txt");
    EXPECT_EQ(settings.RestorePath(), "/srv/restore/");
    EXPECT_FALSE(settings.EnableQuickInfo());
    EXPECT_EQ(settings.BufferSize(), 4096 * 1024);
    EXPECT_EQ(settings.DelayOnError(), 1000000000);
    EXPECT_EQ(settings.CountOfErrorsForSkip(), 100000);
    EXPECT_EQ(settings.AutoActionDelay(), 1000000);
    EXPECT_EQ(settings.RestoreUpdateInterval(), 3000);
    EXPECT_TRUE(settings.LanguageChanged() && settings.RestorePathChanged() && settings.EnableQuickInfoChanged());
    EXPECT_FALSE(settings.AutoRunChanged());
    settings.SaveToRegistry();
    EXPECT_TRUE(TSettingsStorage(registry).VerifyCopies());  // the next start reads what OK stored
}

TEST_F(FormSettingsTest, EveryOtherCloseReloadsTheStoredSettings)
{
    const std::function<void(TfrmSettings&)> closes[] = {
        [](TfrmSettings& dialog) { Child<QPushButton>(dialog, "btnCancel")->click(); },
        [](TfrmSettings& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [](TfrmSettings& dialog) { dialog.close(); },
    };
    for (const auto& close : closes) {
        Store("BufferSize=131072\nAutoRun=0\nLanguage=Deutsch\nDelayOnError=2000\n");
        TSettingsStorage settings(registry);
        settings.SetDefaults();  // "Restore default settings", not saved yet
        settings.SetDelayOnError(1234);
        TfrmSettings dialog(nullptr, 0, settings);
        dialog.show();
        Child<QSpinBox>(dialog, "seBufferSize")->setValue(8);
        Child<QCheckBox>(dialog, "chkMinimizeInsteadClose")->setChecked(false);
        close(dialog);

        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(settings.BufferSize(), 131072);
        EXPECT_FALSE(settings.AutoRun());
        EXPECT_EQ(settings.Language(), "Deutsch");
        EXPECT_EQ(settings.DelayOnError(), 2000);
        EXPECT_TRUE(settings.MinimizeInsteadClose());
        ExpectNoMark(settings);
    }
}

TEST_F(FormSettingsTest, TheRestoreFolderIsLockedWhileTasksHoldIt)
{
    const struct {
        int TaskCount;
        bool StoreLocked;  // tasks kept from an earlier run hold the folder too
        bool Locked;
    } cases[] = {{0, false, false}, {1, false, true}, {5, false, true}, {0, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.TaskCount);
        Store("RestorePath=/srv/restore/\n");
        TSettingsStorage settings(registry);
        if (c.StoreLocked) settings.LockRestorePath();
        TfrmSettings dialog(nullptr, c.TaskCount, settings);
        auto* edit = Child<QLineEdit>(dialog, "edtRestorePath");
        EXPECT_EQ(edit->isEnabled(), !c.Locked);
        EXPECT_EQ(Child<QToolButton>(dialog, "btnRestorePath")->isEnabled(), !c.Locked);
        EXPECT_EQ(Child<QLabel>(dialog, "lblRestoreChangeComment")->isHidden(), !c.Locked);
        EXPECT_EQ(edit->toolTip().isEmpty(), !c.Locked);

        edit->setText("/srv/elsewhere/");
        dialog.accept();
        EXPECT_EQ(settings.RestorePath(), c.Locked ? "/srv/restore/" : "/srv/elsewhere/");
    }
}

TEST_F(FormSettingsTest, ListsAndTheLockedFolderTipComeFromTheLanguageFile)
{
    test::MakeFolders(temp / "Lang");
    test::WriteFile(temp / "Lang/Deutsch.lng",
                    "[TfrmSettings]\nsUpload=Fortsetzen\nsOverwrite=Überschreiben\ns10Mbit=10 MBit/s\n"
                    "sRestorePathLocked=Gesperrt\nbtnRestorePath.Hint=Ordner wählen\n");
    Store("Language=Deutsch\nAutoAction=1\nMaxLinkSpeed=1250000\n");
    TSettingsStorage settings(registry);
    TfrmSettings dialog(nullptr, 1, settings);
    EXPECT_EQ(Child<QComboBox>(dialog, "cbAutoActionOnDstFileExists")->currentText(), "Überschreiben");
    EXPECT_EQ(Child<QComboBox>(dialog, "cbAutoActionOnDstFileExists")->itemText(0), "Fortsetzen");
    EXPECT_EQ(Child<QComboBox>(dialog, "cbConnectionSpeed")->currentText(), "10 MBit/s");
    EXPECT_EQ(Child<QComboBox>(dialog, "cbLanguage")->currentText(), "Deutsch");
    EXPECT_EQ(Child<QLineEdit>(dialog, "edtRestorePath")->toolTip(), "Gesperrt");
    EXPECT_EQ(Child<QToolButton>(dialog, "btnRestorePath")->toolTip(), "Ordner wählen");
}

TEST_F(FormSettingsTest, LongTextsAndALargeFontGrowTheDialogInsteadOfClippingIt)
{
    test::MakeFolders(temp / "Lang");
    test::WriteFile(temp / "Lang/Lang.lng",
                    "[TfrmSettings]\n"
                    "chkEnableContextMenu.Caption=Menüeintrag „Kopieren nach...“ im Kontextmenü des Dateimanagers anbieten\n"
                    "lblCountOfErrorsForSkip.Caption=Zur nächsten Aufgabe wechseln nach so vielen Versuchen\n"
                    "lblRestoreUpdateInterval.Caption=Wiederherstellungsdateien aktualisieren in Abständen von\n"
                    "btnCancel.Caption=Abbrechen und alles verwerfen\n");
    Store("Language=Lang\n");
    const QFont font = QApplication::font();
    QFont large = font;
    large.setPointSizeF(font.pointSizeF() * 2);
    QApplication::setFont(large);
    TSettingsStorage settings(registry);
    TfrmSettings dialog(nullptr, 1, settings);
    dialog.show();
    auto* pages = Child<QTabWidget>(dialog, "pcSettings");
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        QApplication::processEvents();
        for (QWidget* widget : dialog.findChildren<QWidget*>()) {
            auto* label = qobject_cast<QLabel*>(widget);
            const bool wraps = label && label->wordWrap();
            if (!widget->isVisible() || wraps || !(label || qobject_cast<QAbstractButton*>(widget))) continue;
            EXPECT_GE(widget->width(), widget->sizeHint().width()) << widget->objectName().toStdString();
            EXPECT_GE(widget->height(), widget->sizeHint().height()) << widget->objectName().toStdString();
        }
    }
    QApplication::setFont(font);
}

TEST_F(FormSettingsTest, HelpOpensThePageTopicOfTheLanguage)
{
    for (const std::string language : {"English", "Deutsch"}) {
        test::MakeFolders(temp / "Help/" + language + "/html");
        for (const char* topic : {"Settings_General", "Settings_Task", "Settings_Restore"})
            test::WriteFile(temp / "Help/" + language + "/html/" + topic + ".html", "<html></html>");
    }
    Store("Language=Deutsch\n");
    TSettingsStorage settings(registry);
    TfrmSettings dialog(nullptr, 0, settings);

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    auto* pages = Child<QTabWidget>(dialog, "pcSettings");
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        Child<QPushButton>(dialog, "btnHelp")->click();
    }
    QDesktopServices::unsetUrlHandler("file");

    ASSERT_EQ(catcher.Urls.size(), 3);
    const std::string folder = temp / "Help/Deutsch/html/";
    EXPECT_EQ(catcher.Urls[0].toLocalFile().toStdString(), folder + "Settings_General.html");
    EXPECT_EQ(catcher.Urls[1].toLocalFile().toStdString(), folder + "Settings_Task.html");
    EXPECT_EQ(catcher.Urls[2].toLocalFile().toStdString(), folder + "Settings_Restore.html");
}

TEST_F(FormSettingsTest, AMissingHelpPageIsReportedWithItsPath)
{
    TSettingsStorage settings(registry);
    TfrmSettings dialog(nullptr, 0, settings);
    dialog.show();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");

    QString title;
    QString text;
    // The error box runs its own event loop: answer it from there.
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    Child<QPushButton>(dialog, "btnHelp")->click();
    QDesktopServices::unsetUrlHandler("file");

    EXPECT_TRUE(catcher.Urls.isEmpty());
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(text.toStdString(), "Can't open help file: \"" + temp / "Help/English/html/Settings_General.html\"");
}

}  // namespace
}  // namespace tarn

#include "FormSettingsTest.moc"
