#include "core/ProgramLog.h"

#include <QLocale>

#include <algorithm>
#include <filesystem>

#include "core/MessageList.h"
#include "core/Units.h"
#include "engine/GlobalUtils.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

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
    void WriteSummary(const std::string& file, const std::vector<TMsg>& records)
    {
        WriteTaskSummary(file, msgs, task, [&](int index, TMsg& record) {
            if (index < 0 || static_cast<size_t>(index) >= records.size()) return false;
            record = records[static_cast<size_t>(index)];
            return true;
        });
    }
    TMsgList msgs;
    TaskSummary task;
    const std::string logFile = temp / "docs/logs/tarn_log.txt";
};

TEST(EscapeControlsTest, ControlBytesBecomeEscapesAndEveryOtherByteStays)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain name.txt", "plain name.txt"},
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
        {"bad lead\xC0\xAF \xF5\x80\x80\x80", "bad lead\\xC0\\xAF \\xF5\\x80\\x80\\x80"},
        {"overlong\xE0\x80\x9B surrogate\xED\xA0\x80", "overlong\\xE0\\x80\\x9B surrogate\\xED\\xA0\\x80"},
        // Bidirectional controls that would show "exe.txt" as "txt.exe" and the like.
        {"a\xE2\x80\xAA\xE2\x80\xAE" "b\xE2\x80\xAC", "a\\xE2\\x80\\xAA\\xE2\\x80\\xAEb\\xE2\\x80\\xAC"},
        {"\xE2\x81\xA6\xE2\x81\xA9 \xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
         "\\xE2\\x81\\xA6\\xE2\\x81\\xA9 \xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(EscapeControls(text), shown) << text;
}

// Every summary is whole lines of no control bytes (a name can neither drive a terminal nor forge a
// line), in the current language; the first makes the folder and the header, a later one appends.
TEST_F(ProgramLogTest, SummariesSayWhatTheirRecordsHold)
{
    EXPECT_EQ(RenderLogRecord(msgs, {"Err001", 0, {}}), "Source doesn't exists: \"%s\"");  // no parameters: as it stands
    EXPECT_EQ(RenderLogRecord(msgs, {"NoSuchId", 0, {"x"}}), "");
    const struct {
        const char* name;
        std::string source;
        int32_t leftOut;
        std::vector<TMsg> records;
        std::vector<std::string> shown, absent;
        std::string end;
        long lines;
        const char* german = nullptr;  // a catalogue, read with the German locale
    } rows[] = {
        {"a whole summary", "/srv/share/Photos/", 0,
         {{"Inf001", 45000.5, {}},
          {"Err009", 45000.75, {"^Msg014^", "/srv/share/Photos/x", "/home/u/In/Photos/x", "Operation not permitted"}},
          {"Inf008", 45001, {}}},
         {ProgramLogHeader() + "\r\nSource: \"/srv/share/Photos/\"\r\nDestination: \"/home/u/In/Photos/\"\r\n"
          "Start date and time:  3/15/23 12:00:00 PM\r\nFinish date and time: 3/16/23\r\nClean copy time:  01:02:03\r\n"
          "Files: 3\r\nTotal size: 1.5 Mb\r\nAverage speed: 422 B/s\r\n3/15/23 12:00:00 PM Task was created\r\n"
          "3/15/23 6:00:00 PM An error occured while copying a Attributes from \"/srv/share/Photos/x\" to "
          "\"/home/u/In/Photos/x\". Operation system reporting: \"Operation not permitted\"\r\n"
          "3/16/23 Task was finished successfully\r\n"}, {}, "", 16},
        {"hostile names", "/srv/\x1B]0;owned\x07/", 0,
         {{"Inf014", 45000.5, {"/srv/a\r\n3/15/23 Task was finished successfully\x1B[2J\xC2\x9B"}}},
         {"\r\nSource: \"/srv/\\x1B]0;owned\\x07/\"\r\n",
          "\r\n3/15/23 12:00:00 PM File was skipped: \"/srv/a\\x0D\\x0A3/15/23 Task was finished successfully\\x1B[2J"
          "\\xC2\\x9B\"\r\n"}, {}, "", 14},
        {"items left out, the engine's own records not shown", "/s/", 2,
         {{"#Written", 45000.0, {"0"}}, {"Inf001", 45000.25, {}}, {"Err010", 45000.5, {"/s/pipe", "Not a regular file"}},
          {"Inf022", 45000.75, {"2"}}, {"#Written", 45001.0, {"1"}}},
         {"\r\nFiles: 3\r\nItems left out: 2\r\nTotal size:",
          "Start date and time:  3/15/23 6:00:00 AM\r\nFinish date and time: 3/15/23 6:00:00 PM\r\n",
          "\r\n3/15/23 12:00:00 PM File \"/s/pipe\" was left out: Not a regular file\r\n"},
         {"12:00:00 AM", "3/16/23"}, " Task was finished, 2 items could not be copied\r\n", 17},
        {"only the engine's records: no times, no lines", "/s/", 0, {{"#Written", 45000.0, {"0"}}},
         {"Start date and time:  Unavailable\r\n"}, {"Items left out"}, "\r\nAverage speed: 422 B/s\r\n", 13},
        {"in the current language", "/s/", 0, {{"Err009", 45000.75, {"^Msg014^", "/s/x", "/d/x", "Keine Berechtigung"}}},
         {"\r\nDateien: 3\r\n", "\r\nTotal size: 1,5 Mb\r\n"}, {},
         "\r\n15.03.23 18:00:00 Fehler beim Kopieren der Attribute von \"/s/x\" nach \"/d/x\": \"Keine Berechtigung\"\r\n",
         14, "[TMsgList]\nLog006=Dateien: %s\nMsg014=Attribute\n"
             "Err009=Fehler beim Kopieren der %s von \"%s\" nach \"%s\": \"%s\"\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(logFile);
        task.Source = row.source;
        task.LeftOut = row.leftOut;
        if (row.german) {
            msgs.LoadCatalogue(IniFile::Parse(row.german));
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        }
        WriteSummary(logFile, row.records);
        const std::string log = test::ReadFile(logFile);
        for (const auto& part : row.shown) EXPECT_NE(log.find(part), std::string::npos) << part << "\n" << log;
        for (const auto& part : row.absent) EXPECT_EQ(log.find(part), std::string::npos) << part << "\n" << log;
        EXPECT_TRUE(log.ends_with(row.end)) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), row.lines) << log;
        std::string text = log;
        for (size_t end; (end = text.find("\r\n")) != std::string::npos;) text.erase(end, 2);
        for (size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            const auto next = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
            EXPECT_FALSE(byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) << i;
        }
        WriteSummary(logFile, row.records);
        EXPECT_EQ(test::ReadFile(logFile), log + log.substr(ProgramLogHeader().size()));
    }

    // A log that cannot be written raises its reason (a file where its folder goes: TaskCommandsTest).
    test::MakeFolders(temp / "folder.txt");
    try {
        WriteSummary(temp / "folder.txt", {{"Inf001", 45000.25, {}}});
        ADD_FAILURE() << "no error";
    } catch (const ProgramLogError& error) {
        EXPECT_NE(std::string(error.what()).find("cannot be created: File exists"), std::string::npos) << error.what();
    }
}

}  // namespace
}  // namespace tarn
