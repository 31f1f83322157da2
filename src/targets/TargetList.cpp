#include "targets/TargetList.h"

#include "base/TextTrim.h"

namespace tarvok {

void TargetList::clear()
{
    addresses_.clear();
    comments_.clear();
}

void TargetList::append(const QString& address, const QString& comment)
{
    addresses_.append(address);
    comments_.append(comment);
}

void TargetList::removeAt(int index)
{
    addresses_.removeAt(index);
    comments_.removeAt(index);
}

QString TrimBlanks(const QString& s)
{
    return text::trimControls(s);
}

bool IsCommentLine(const QString& line)
{
    if (line.isEmpty())
        return true;
    switch (line.at(0).unicode()) {
    case u'#':
    case u';':
    case u'\'':
    case u'\uFF03': // ＃
    case u'\uFF1B': // ；
    case u'\u2019': // ’
    case u'\u3000': // full-width space
        return true;
    default:
        return false;
    }
}

TargetEntry SplitTargetLine(const QString& line)
{
    const qsizetype p = line.size() > 1 ? line.indexOf(u' ', 1) : -1;
    if (p < 0)
        return {line, QString()};
    return {TrimBlanks(line.left(p)), TrimBlanks(line.mid(p + 1))};
}

void ParseTargetList(const QStringList& lines, TargetList& list)
{
    list.clear();
    for (const QString& raw : lines) {
        const QString line = TrimBlanks(raw);
        if (IsCommentLine(line))
            continue;
        const TargetEntry e = SplitTargetLine(line);
        list.append(e.Address, e.Comment);
    }
}

} // namespace tarvok
