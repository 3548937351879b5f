#include "windows/DroppedSources.h"

#include <QMimeData>
#include <QUrl>

#include "tasks/LocalPathOfUri.h"

namespace tarn {

DroppedSources SourcesOfDrop(const QMimeData* data)
{
    DroppedSources sources;
    if (data == nullptr) return sources;
    for (const QUrl& url : data->urls()) {
        std::string whyNot;
        if (const auto path = LocalPathOfUri(url.toString(QUrl::FullyEncoded).toStdString(), whyNot)) {
            sources.Paths.push_back(*path);
        } else {
            if (!sources.Refused.empty()) sources.Refused += '\n';
            sources.Refused += whyNot;
        }
    }
    return sources;
}

}  // namespace tarn
