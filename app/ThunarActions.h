#pragma once

#include <QString>

#include <utility>
#include <vector>

namespace tarn {

// Thunar's custom actions file (uca.xml) with Tarnwell's action put in or taken out. Only the
// text of that action changes: the user's own actions, comments and layout stay as they were.
class ThunarActions {
public:
    // Our action's <unique-id>, by which it is found again.
    static constexpr char16_t UniqueId[] = u"tarnwell-copy-to";
    // What an absent file stands for.
    static constexpr char16_t EmptyFile[] = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n";

    // False with `error` when `text` is no well-formed XML with <actions> at its root.
    bool Parse(const QString& text, QString& error);
    bool HasOurs() const { return !ours_.empty(); }
    // The text with `action`, one <action> element, in place of ours, or last in <actions>.
    QString WithAction(const QString& action) const;
    // The text without ours, and without the lines they stood on when nothing else was on them.
    QString WithoutOurs() const;

private:
    using Range = std::pair<qsizetype, qsizetype>;  // [start, end) in text_
    // A copy of text_ with the edits made, `edits` in the order of their ranges.
    QString Edited(const std::vector<std::pair<Range, QString>>& edits) const;
    // `range` grown over the blanks and the line break around it when they make it a line of its own.
    Range WholeLines(Range range) const;

    QString text_;
    std::vector<Range> ours_;
    Range rootEnd_{0, 0};  // </actions>, or all of <actions/>
    bool rootEmpty_ = false;
};

}  // namespace tarn
