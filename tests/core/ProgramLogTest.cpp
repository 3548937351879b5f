#include "core/ProgramLog.h"

#include <QLocale>

#include <algorithm>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "engine/DownloadThread.h"
#include "engine/GlobalUtils.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

constexpr char Header[] =
    "Log file - Tarnwell version 3.1\r\n"
    "Copyright (c) Brenvik. All rights reserved.\r\n"
    "Web: https://www.brenvik.example/tarnwell/\r\n"
    "Support: support@brenvik.example\r\n";

class ProgramLogTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        UseLocaleDateTimeFormat();
        task.Source = "/srv/share/Photos/";
        task.Destination = "/home/u/In/Photos/";
        task.Elapsed = 3723.0 / 86400;  // 01:02:03
        task.FileCount = 3;
        task.TotalSize = 1572864;
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    void WriteTaskSummary(const std::string& file, const TMsgList& catalogue, const TaskSummary& summary)
    {
        tarn::WriteTaskSummary(file, catalogue, summary, [&](int index, TMsg& record) {
            if (index < 0 || static_cast<size_t>(index) >= records.size()) return false;
            record = records[static_cast<size_t>(index)];
            return true;
        });
    }

    TMsgList msgs;
    TaskSummary task;
    std::vector<TMsg> records;
    const std::string logFile = temp / "docs/logs/tarn_log.txt";
};

TEST_F(ProgramLogTest, RecordsAreRenderedWithTheirParameters)
{
    EXPECT_EQ(RenderLogRecord(msgs, {"Err001", 0, {}}), "Source doesn't exists: \"%s\"");
    EXPECT_EQ(RenderLogRecord(msgs, {"Inf004", 0, {"12"}}), "Scan was finished, 12 files found");
    EXPECT_EQ(RenderLogRecord(msgs, {"Err006", 0, {"Input/output error", "/s/^Msg017^.txt"}}),
              "Input/output error \"/s/Owner.txt\"");
    EXPECT_EQ(RenderLogRecord(msgs, {"Err009", 0, {"^Msg014^, ^Msg016^", "/s/a", "/d/a", "Permission denied", "5th"}}),
              "An error occured while copying a Attributes, Primary Group from \"/s/a\" to \"/d/a\". Operation system "
              "reporting: \"Permission denied\"");
    EXPECT_EQ(RenderLogRecord(msgs, {"NoSuchId", 0, {"x"}}), "");
}

TEST(EscapeControlsTest, ControlBytesBecomeEscapesAndEveryOtherByteStays)
{
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"red\x1B[31m.txt", "red\\x1B[31m.txt"},
        {"title\x1B]0;owned\x07", "title\\x1B]0;owned\\x07"},
        {"two\r\nlines\t", "two\\x0D\\x0Alines\\x09"},
        {std::string("nul\0end", 7), "nul\\x00end"},
        {"del\x7F", "del\\x7F"},
        {"csi\xC2\x9B" "2J next\xC2\x80\xC2\x9F", "csi\\xC2\\x9B2J next\\xC2\\x80\\xC2\\x9F"},
        {"back\\slash \\x1B", "back\\\\slash \\\\x1B"},
        // UTF-8 letters keep their bytes, those that share a byte with a C1 control included.
        {"caf\xC3\xA9 \xE2\x82\xAC \xC2\xA0 \xC3\x9B", "caf\xC3\xA9 \xE2\x82\xAC \xC2\xA0 \xC3\x9B"},
        {"\xC3\xA4\xC3\xB6\xC3\xBC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBD",
         "\xC3\xA4\xC3\xB6\xC3\xBC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBD"},
        // Bytes outside any UTF-8 character: a terminal may read 0x80 to 0x9F alone as C1 controls.
        {"csi\x9B" "2J \x85 \x80\xBF", "csi\\x9B2J \\x85 \\x80\\xBF"},
        {"cut\xC2", "cut\\xC2"},
        {"cut\xE2\x80 x", "cut\\xE2\\x80 x"},
        {"bad lead\xC0\xAF \xF5\x80\x80\x80", "bad lead\\xC0\\xAF \\xF5\\x80\\x80\\x80"},
        {"overlong\xE0\x80\x9B surrogate\xED\xA0\x80", "overlong\\xE0\\x80\\x9B surrogate\\xED\\xA0\\x80"},
        // Bidirectional controls that would show "exe.txt" as "txt.exe" and the like.
        {"a\xE2\x80\xAA\xE2\x80\xAE" "b\xE2\x80\xAC", "a\\xE2\\x80\\xAA\\xE2\\x80\\xAEb\\xE2\\x80\\xAC"},
        {"\xE2\x81\xA6\xE2\x81\xA9 \xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
         "\\xE2\\x81\\xA6\\xE2\\x81\\xA9 \xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(EscapeControls(text), shown) << text;
}

TEST_F(ProgramLogTest, NamesInTheSummaryCanNeitherDriveATerminalNorForgeALine)
{
    task.Source = "/srv/\x1B]0;owned\x07/";
    records = {{"Inf014", 45000.5, {"/srv/a\r\n3/15/23 Task was finished successfully\x1B[2J\xC2\x9B"}}};
    WriteTaskSummary(logFile, msgs, task);

    const std::string log = test::ReadFile(logFile);
    EXPECT_NE(log.find("\r\nSource: \"/srv/\\x1B]0;owned\\x07/\"\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\n3/15/23 12:00:00 PM File was skipped: \"/srv/a\\x0D\\x0A3/15/23 Task was finished "
                       "successfully\\x1B[2J\\xC2\\x9B\"\r\n"),
              std::string::npos)
        << log;
    // The header's 4 lines, the summary's 9 and the record's: no line more.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 14);
    std::string text = log;
    for (size_t end; (end = text.find("\r\n")) != std::string::npos;) text.erase(end, 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
        EXPECT_FALSE(byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) << i;
    }
}

TEST_F(ProgramLogTest, TheFirstSummaryCreatesTheFolderAndTheHeaderAndLaterOnesAppend)
{
    records = {
        {"Inf001", 45000.5, {}},
        {"Inf007", 45000.5 + 1.0 / 86400, {"a^b^c.txt", "/srv/share/Photos/", "/home/u/In/Photos/"}},
        {"Err009", 45000.75, {"^Msg014^", "/srv/share/Photos/x", "/home/u/In/Photos/x", "Operation not permitted"}},
        {"Inf028", 45001, {"3", "1572864"}},
        {"Inf008", 45001, {}},
    };
    const std::string block =
        "\r\n"
        "Source: \"/srv/share/Photos/\"\r\n"
        "Destination: \"/home/u/In/Photos/\"\r\n"
        "Start date and time:  3/15/23 12:00:00 PM\r\n"
        "Finish date and time: 3/16/23\r\n"
        "Clean copy time:  01:02:03\r\n"
        "Files: 3\r\n"
        "Total size: 1.5 Mb\r\n"
        "Average speed: 422 B/s\r\n"
        "3/15/23 12:00:00 PM Task was created\r\n"
        "3/15/23 12:00:01 PM A file \"a^b^c.txt\" was copied from \"/srv/share/Photos/\" to \"/home/u/In/Photos/\"\r\n"
        "3/15/23 6:00:00 PM An error occured while copying a Attributes from \"/srv/share/Photos/x\" to "
        "\"/home/u/In/Photos/x\". Operation system reporting: \"Operation not permitted\"\r\n"
        "3/16/23 3 files were read back and found equal to their sources, 1572864 bytes\r\n"
        "3/16/23 Task was finished successfully\r\n";

    WriteTaskSummary(logFile, msgs, task);
    EXPECT_EQ(test::ReadFile(logFile), Header + block);

    WriteTaskSummary(logFile, msgs, task);
    EXPECT_EQ(test::ReadFile(logFile), Header + block + block);
}

TEST_F(ProgramLogTest, SummariesAreWrittenInTheCurrentLanguage)
{
    const IniFile german = IniFile::Parse("[TMsgList]\n"
                                          "Log006=Dateien: %s\n"
                                          "Msg014=Attribute\n"
                                          "Err009=Fehler beim Kopieren der %s von \"%s\" nach \"%s\": \"%s\"\n");
    msgs.LoadCatalogue(german);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    records = {{"Err009", 45000.75, {"^Msg014^", "/s/x", "/d/x", "Keine Berechtigung"}}};
    WriteTaskSummary(logFile, msgs, task);

    const std::string log = test::ReadFile(logFile);
    EXPECT_NE(log.find("\r\nDateien: 3\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nTotal size: 1,5 Mb\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\n15.03.23 18:00:00 Fehler beim Kopieren der Attribute von \"/s/x\" nach \"/d/x\": "
                       "\"Keine Berechtigung\"\r\n"),
              std::string::npos)
        << log;
}

TEST_F(ProgramLogTest, ALogWithOneRecordStartsAndFinishesAtItsTime)
{
    task.Elapsed = 0;
    records = {{"Inf001", 45000.25, {}}};
    WriteTaskSummary(logFile, msgs, task);
    const std::string log = test::ReadFile(logFile);
    EXPECT_NE(log.find("Start date and time:  3/15/23 6:00:00 AM\r\nFinish date and time: 3/15/23 6:00:00 AM\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\r\nAverage speed: 0 B/s\r\n"), std::string::npos) << log;
}

TEST_F(ProgramLogTest, LeftOutItemsAreCountedAndTheEnginesOwnRecordsLeftOut)
{
    task.LeftOut = 2;
    records = {
        {"#Written", 45000.0, {"0"}},
        {"Inf001", 45000.25, {}},
        {"Err010", 45000.5, {"/s/pipe", "Not a regular file"}},
        {"Inf022", 45000.75, {"2"}},
        {"#Written", 45001.0, {"1"}},
    };
    WriteTaskSummary(logFile, msgs, task);
    const std::string log = test::ReadFile(logFile);
    EXPECT_NE(log.find("\r\nFiles: 3\r\nItems left out: 2\r\nTotal size:"), std::string::npos) << log;
    EXPECT_NE(log.find("Start date and time:  3/15/23 6:00:00 AM\r\nFinish date and time: 3/15/23 6:00:00 PM\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\r\n3/15/23 12:00:00 PM File \"/s/pipe\" was left out: Not a regular file\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("12:00:00 AM"), std::string::npos) << log;
    EXPECT_EQ(log.find("3/16/23"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with(" Task was finished, 2 items could not be copied\r\n")) << log;

    // Only the engine's records: no times, no lines, and still a whole last line.
    task.LeftOut = 0;
    records = {{"#Written", 45000.0, {"0"}}};
    WriteTaskSummary(logFile, msgs, task);
    const std::string second = test::ReadFile(logFile).substr(log.size());
    EXPECT_NE(second.find("Start date and time:  Unavailable\r\n"), std::string::npos) << second;
    EXPECT_EQ(second.find("Items left out"), std::string::npos) << second;
    EXPECT_TRUE(second.ends_with("\r\nAverage speed: 422 B/s\r\n")) << second;
}

TEST_F(ProgramLogTest, FailuresNameTheFileAndTheReason)
{
    const auto expectError = [&](const std::string& file, const char* reason) {
        try {
            WriteTaskSummary(file, msgs, task);
            ADD_FAILURE() << "no error for " << file;
        } catch (const ProgramLogError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(reason), std::string::npos) << message;
        }
    };

    records = {{"Inf001", 45000.25, {}}};
    test::WriteFile(temp / "plain", "");
    expectError(temp / "plain/logs/tarn_log.txt", "Not a directory");
    test::MakeFolders(temp / "folder.txt");
    expectError(temp / "folder.txt", "cannot be created: File exists");
}

TEST_F(ProgramLogTest, ATaskLeavingTheListIsSummedUpAfterItsWorkerEnded)
{
    test::MakeFolders(temp / "src/sub");
    test::MakeFolders(temp / "restore");
    test::WriteFile(temp / "src/a.bin", test::RandomBytes(3000, 1));
    test::WriteFile(temp / "src/sub/a^b^c.txt", test::RandomBytes(100, 2));
    TDownloadThread worker("0000ABCD", temp / "restore/", temp / "src/", temp / "dst/", StateCopying, 0, 20, 15000,
                           65536, 12500000, 2147483647);
    ASSERT_TRUE(test::WaitUntil([&] { return worker.GetState() == StateFinished; }));
    worker.Stop();

    TSettingsStorage settings(RegistryLocation{temp / "user.ini", temp / "system.ini"});
    settings.SetLogFile(logFile);
    tarn::WriteTaskSummary(settings, msgs, worker);

    const std::string log = test::ReadFile(logFile);
    EXPECT_EQ(log.rfind(Header, 0), 0u) << log;
    EXPECT_NE(log.find("\r\nSource: \"" + temp / "src/\"\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nFiles: 2\r\nTotal size: 3.03 Kb\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" Task was created\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" A file \"a^b^c.txt\" was copied from \"" + temp / "src/sub/\""), std::string::npos) << log;
    EXPECT_NE(log.find(" Task was finished successfully\r\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace tarn
