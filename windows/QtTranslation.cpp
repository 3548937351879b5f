#include "windows/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

#include <algorithm>
#include <string>
#include <utility>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"

namespace tarn {
namespace {

constexpr char KeyNamesContext[] = "QShortcut";

// The language file's key names, asked before Qt's translation.
class KeyNames : public QTranslator {
public:
    KeyNames(IniFile languageFile, QObject* parent) : QTranslator(parent), languageFile_(std::move(languageFile)) {}

    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        if (qstrcmp(context, KeyNamesContext) != 0) return {};
        const auto text = languageFile_.Value(KeyNamesContext, sourceText);
        return text ? QString::fromStdString(*text) : QString();
    }
    bool isEmpty() const override { return false; }

private:
    const IniFile languageFile_;
};

// A code is part of a file name: letters, digits and '_' only, so that none leads elsewhere.
bool IsLanguageCode(const std::string& code)
{
    return !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    });
}

}  // namespace

void InstallQtTranslation(const TSettingsStorage& settings)
{
    // The translators of the language are children of one object owned by the application;
    // deleting a translator takes it off the application.
    static QPointer<QObject> installed;
    delete installed;

    auto languageFile = ReadLanguageFile(settings.RootDir(), settings.Language());
    if (!languageFile) return;
    installed = new QObject(QCoreApplication::instance());
    const std::string code = languageFile->Value("Language", "Code").value_or("");
    auto* qtTexts = new QTranslator(installed);
    if (IsLanguageCode(code) &&
        qtTexts->load(QStringLiteral("qtbase_") + QString::fromStdString(code),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    // Installed last, so asked first.
    if (!languageFile->Section(KeyNamesContext).empty())
        QCoreApplication::installTranslator(new KeyNames(std::move(*languageFile), installed));
}

}  // namespace tarn
