// Shows every window but the main one with sample data and saves a picture of each, for the
// screenshots in docs/: dialog_gallery OUTPUT_FOLDER LANGUAGE [--dark] [--only NAME] [--suffix S]
// Pictures are named NAME-LANGUAGE[-SUFFIX].png. Run it on a real display (scripts/screenshots
// runs it under a virtual X server).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/TaskTypes.h"
#include "platform/DateTime.h"
#include "tasks/SpeedGraphModel.h"
#include "windows/FormDelTask.h"
#include "windows/FormDstFileExists.h"
#include "windows/FormNewTask.h"
#include "windows/FormQuickInfo.h"
#include "windows/FormSchedule.h"
#include "windows/FormSettings.h"
#include "windows/FormShutDown.h"
#include "windows/SpeedGraph.h"

namespace {

using namespace tarn;

QPalette DarkPalette()
{
    QPalette palette;
    const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230), highlight(42, 130, 218);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    return palette;
}

void WriteFile(const QString& path, size_t bytes)
{
    std::ofstream(path.toStdString(), std::ios::binary) << std::string(bytes, 'x');
}

class Gallery {
public:
    Gallery(QString folder, QString language, QString suffix)
        : folder_(std::move(folder)), language_(std::move(language)), suffix_(std::move(suffix)),
          settings_(RegistryLocation{(home_.path() + "/user.ini").toStdString(),
                                     (home_.path() + "/system.ini").toStdString()})
    {
        settings_.SetLanguage(language_.toStdString());
        settings_.SetRestorePath((home_.path() + "/restore/").toStdString());
        msgs_ = std::make_unique<TMsgList>(settings_);
    }

    // Shows the window, lets it lay itself out and paint, and saves it.
    void Save(const QString& name, QWidget& window)
    {
        window.show();
        for (int i = 0; i < 10; ++i) {
            QApplication::processEvents();
            QThread::msleep(20);
        }
        const QString file = folder_ + "/" + name + "-" + language_ + (suffix_.isEmpty() ? "" : "-" + suffix_) + ".png";
        if (!window.grab().save(file)) std::fprintf(stderr, "dialog_gallery: cannot write %s\n", qPrintable(file));
        window.hide();
    }

    void NewTask()
    {
        TfrmNewTask dialog(nullptr, settings_, true);
        dialog.SetSourceText("\"/srv/share/Photos/2020\" \"/srv/share/Photos/2021\"");
        Save("new-task", dialog);
        dialog.findChild<QPushButton*>("btnOptions")->click();
        dialog.findChild<QComboBox*>("cbDstPath")->setEditText("/home/anna/Pictures/Archive");
        Save("new-task-options", dialog);
        // OK with two sources of one name: the dialog refuses them in a message box of its own.
        dialog.SetSourceText("\"/srv/share/a/Photos\" \"/srv/share/b/Photos\"");
        QTimer::singleShot(300, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Save("new-task-refused", *box);
                box->accept();
            }
        });
        dialog.accept();
    }

    void Settings()
    {
        TfrmSettings dialog(nullptr, 2, settings_);
        auto* pages = dialog.findChild<QTabWidget*>();
        const char* const names[] = {"settings-general", "settings-task", "settings-restore"};
        for (int page = 0; page < pages->count() && page < 3; ++page) {
            pages->setCurrentIndex(page);
            Save(names[page], dialog);
        }
    }

    void DstFileExists()
    {
        QDir(home_.path()).mkpath("src/Photos");
        QDir(home_.path()).mkpath("dst/Photos");
        WriteFile(home_.path() + "/src/Photos/holiday-2020.jpg", 2622976);
        WriteFile(home_.path() + "/dst/Photos/holiday-2020.jpg", 1572864);
        const TItemAttrs item{"Photos/", "holiday-2020.jpg", 2622976, KindFile};
        TfrmDstFileExists dialog(nullptr, settings_, *msgs_, (home_.path() + "/src/").toStdString(),
                                 (home_.path() + "/dst/").toStdString(), item);
        Save("file-exists", dialog);
    }

    void SmallDialogs()
    {
        TfrmSchedule schedule(nullptr, settings_, NowDateTime() + 1);
        Save("schedule", schedule);
        TfrmDelTask deleting(nullptr, settings_);
        Save("delete-task", deleting);
        TfrmShutDown shutDown(nullptr, settings_);
        Save("shut-down", shutDown);
    }

    void QuickInfo()
    {
        TfrmQuickInfo window(settings_);
        window.resize(260, 80);
        const std::string mbps = msgs_->GetMsg("MBps");
        const std::string bps = msgs_->GetMsg("Bps");
        window.SetRows({{0.62F, 12.4F, mbps, "/srv/share/Photos/2020/", StateCopying},
                        {0.18F, 0.0F, bps, "/srv/share/Videos/", StatePaused},
                        {1.0F, 0.0F, bps, "/srv/backup/Documents/", StateFinished}});
        Save("quick-info", window);
    }

    void SpeedGraph()
    {
        SpeedGraphModel model;
        QWidget frame;
        frame.resize(560, 240);
        TSpeedGraph graph(model, &frame);
        graph.setGeometry(frame.rect());
        graph.SetSeconds(QString::fromStdString(msgs_->GetMsg("Sec")));
        graph.SetBps(QString::fromStdString(msgs_->GetMsg("Bps")));
        graph.SetKBps(QString::fromStdString(msgs_->GetMsg("KBps")));
        graph.SetMBps(QString::fromStdString(msgs_->GetMsg("MBps")));
        graph.SetDataFreq(1000);
        for (int i = 0; i < 160; ++i) {
            const double wave = 9.5e6 + 2.5e6 * std::sin(i / 9.0) + 0.8e6 * std::sin(i * 1.7);
            graph.AddValue(i < 150 ? static_cast<int32_t>(wave) : 0);
        }
        Save("speed-graph", frame);
    }

private:
    QTemporaryDir home_;
    QString folder_;
    QString language_;
    QString suffix_;
    TSettingsStorage settings_;
    std::unique_ptr<TMsgList> msgs_;
};

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: dialog_gallery OUTPUT_FOLDER LANGUAGE [--dark] [--only NAME] [--suffix S]\n");
        return 1;
    }
    QString only;
    QString suffix;
    for (int i = 3; i < arguments.size(); ++i) {
        if (arguments[i] == "--dark") {
            QApplication::setStyle(QStyleFactory::create("Fusion"));
            QApplication::setPalette(DarkPalette());
        } else if (arguments[i] == "--only" && i + 1 < arguments.size()) {
            only = arguments[++i];
        } else if (arguments[i] == "--suffix" && i + 1 < arguments.size()) {
            suffix = arguments[++i];
        }
    }
    QDir().mkpath(arguments[1]);
    Gallery gallery(arguments[1], arguments[2], suffix);
    const std::vector<std::pair<QString, std::function<void()>>> windows = {
        {"new-task", [&] { gallery.NewTask(); }},         {"settings", [&] { gallery.Settings(); }},
        {"file-exists", [&] { gallery.DstFileExists(); }}, {"small", [&] { gallery.SmallDialogs(); }},
        {"quick-info", [&] { gallery.QuickInfo(); }},      {"speed-graph", [&] { gallery.SpeedGraph(); }},
    };
    for (const auto& [name, show] : windows)
        if (only.isEmpty() || only == name) show();
    return 0;
}
