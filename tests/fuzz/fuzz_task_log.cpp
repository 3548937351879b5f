// A task log, read and written as program-log text as a task's removal does; zeros after a whole
// log (a crash, a sparse extension) are never records.
#include <QLocale>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/MessageList.h"
#include "core/ProgramLog.h"
#include "engine/RestoreFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tarn;
    static const TMsgList msgs;
    static const QLocale locale(QLocale::English, QLocale::UnitedStates);
    static const TaskSummary task{"/srv/share/", "/home/u/in/share/", 0.5, 12, 123456789, 2};

    const TaskLogContents log = DecodeLogFile(std::string_view(reinterpret_cast<const char*>(data), size));
    TaskSummaryText(msgs, task,
                    [&](int index, TMsg& record) {
                        if (static_cast<size_t>(index) >= log.Records.size()) return false;
                        record = log.Records[static_cast<size_t>(index)];
                        return true;
                    },
                    locale);
    if (log.Damaged) return 0;
    const TaskLogContents zeros =
        DecodeLogFile(std::string(reinterpret_cast<const char*>(data), size) + std::string(64, '\0'));
    // Compared as written: a time that is not a number is unequal to itself.
    const auto written = [](const TaskLogContents& contents) {
        std::string bytes;
        for (size_t i = 0; i < contents.Records.size(); ++i) bytes += EncodeLogRecord(contents.Records[i]);
        return bytes;
    };
    if (!zeros.Damaged || zeros.WholeSize != size || written(zeros) != written(log)) std::abort();
    return 0;
}
