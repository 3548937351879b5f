#include "app/ThunarActions.h"

#include <QXmlStreamReader>

namespace tarn {

bool ThunarActions::Parse(const QString& text, QString& error)
{
    text_ = text;
    ours_.clear();
    // Thunar has written its declaration as <?xml encoding="UTF-8" version="1.0"?>, in an order
    // QXmlStreamReader refuses; it is read as blanks, which keeps every offset.
    QString readable = text;
    if (readable.startsWith(u"<?xml")) {
        const qsizetype end = readable.indexOf(u"?>");
        if (end > 0) readable.replace(0, end + 2, QString(end + 2, u' '));
    }
    QXmlStreamReader reader(readable);
    int depth = 0;
    qsizetype rootOpened = -1;
    qsizetype actionStart = -1;
    bool actionOurs = false;
    while (!reader.atEnd()) {
        reader.readNext();
        // The reader is past the token's '>'; it may have read the '<' of the next one already.
        const qsizetype end = reader.characterOffset();
        const qsizetype tagStart = readable.lastIndexOf(u'<', end - 1);
        if (reader.isStartElement()) {
            ++depth;
            if (depth == 1 && reader.name() != u"actions") {
                error = QStringLiteral("its outermost element is <%1>, not <actions>").arg(reader.name());
                return false;
            }
            if (depth == 1) rootOpened = end;
            if (depth == 2 && reader.name() == u"action") {
                actionStart = tagStart;
                actionOurs = false;
            }
            if (depth == 3 && actionStart >= 0 && reader.name() == u"unique-id") {
                actionOurs = reader.readElementText().trimmed() == UniqueId;
                --depth;
            }
        } else if (reader.isEndElement()) {
            if (depth == 2 && actionStart >= 0) {
                if (actionOurs) ours_.push_back({actionStart, end});
                actionStart = -1;
            }
            if (depth == 1) {
                rootEmpty_ = end == rootOpened;
                rootEnd_ = {tagStart, end};
            }
            --depth;
        }
    }
    if (!reader.hasError()) return true;
    QString reason = reader.errorString();
    if (reason.endsWith(u'.')) reason.chop(1);
    error = QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reason);
    return false;
}

QString ThunarActions::WithAction(const QString& action) const
{
    const QString element = action.trimmed();
    std::vector<std::pair<Range, QString>> edits;
    if (ours_.empty() && rootEmpty_) {
        edits.push_back({rootEnd_, QStringLiteral("<actions>\n") + element + QStringLiteral("\n</actions>")});
    } else if (ours_.empty()) {
        edits.push_back({{rootEnd_.first, rootEnd_.first}, element + u'\n'});
    } else {
        // A second one of ours, which a hand-edit may have made, goes.
        edits.push_back({ours_.front(), element});
        for (size_t i = 1; i < ours_.size(); ++i) edits.push_back({WholeLines(ours_[i]), QString()});
    }
    return Edited(edits);
}

QString ThunarActions::WithoutOurs() const
{
    std::vector<std::pair<Range, QString>> edits;
    for (const Range& range : ours_) edits.push_back({WholeLines(range), QString()});
    return Edited(edits);
}

QString ThunarActions::Edited(const std::vector<std::pair<Range, QString>>& edits) const
{
    QString text = text_;
    for (auto edit = edits.rbegin(); edit != edits.rend(); ++edit)
        text.replace(edit->first.first, edit->first.second - edit->first.first, edit->second);
    return text;
}

ThunarActions::Range ThunarActions::WholeLines(Range range) const
{
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\r'; };
    qsizetype start = range.first;
    while (start > 0 && blank(text_[start - 1])) --start;
    qsizetype end = range.second;
    while (end < text_.size() && blank(text_[end])) ++end;
    const bool lineStart = start == 0 || text_[start - 1] == u'\n';
    const bool lineEnd = end == text_.size() || text_[end] == u'\n';
    if (!lineStart || !lineEnd) return range;
    return {start, end < text_.size() ? end + 1 : end};
}

}  // namespace tarn
