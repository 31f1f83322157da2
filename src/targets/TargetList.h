#pragma once
// The target list: one target per line of the editor, optionally followed by
// a comment; comment lines and blank lines are skipped.

#include <QString>
#include <QStringList>

namespace tarvok {

struct TargetEntry {
    QString Address; // as typed; never empty, never begins or ends with a blank
    QString Comment; // the rest of the line after the first ASCII space, trimmed
    bool operator==(const TargetEntry&) const = default;
};

// The one ordered list every run works on; position i is target index i.
// Held as two parallel lists of equal length.
class TargetList {
public:
    int count() const { return static_cast<int>(addresses_.size()); }
    bool isEmpty() const { return addresses_.isEmpty(); }
    void clear();
    void append(const QString& address, const QString& comment);
    void removeAt(int index);
    TargetEntry at(int index) const { return {addresses_.at(index), comments_.at(index)}; }
    const QStringList& addresses() const { return addresses_; }
    const QStringList& comments() const { return comments_; }

private:
    QStringList addresses_;
    QStringList comments_;
};

// Removes leading and trailing characters whose code is 0x20 or below
// (the full-width space U+3000 is not removed).
QString TrimBlanks(const QString& s);
// True when the trimmed line is empty or begins with a comment mark:
// "#", ";", "'", "＃", "；", "’" or the full-width space.
bool IsCommentLine(const QString& line);
// Splits a trimmed, non-comment line at its first ASCII space (not before the
// second character).
TargetEntry SplitTargetLine(const QString& line);
// Rebuilds `list` from the editor's lines.
void ParseTargetList(const QStringList& lines, TargetList& list);

} // namespace tarvok
