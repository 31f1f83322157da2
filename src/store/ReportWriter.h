#pragma once
// The saved reports of the main window's lists: the result list as a
// fixed-column text table or as CSV, the statistics list as CSV and the trace
// tree as a TAB-indented outline. Every report is CP932 text with CR LF line
// ends and replaces the chosen file through the atomic save, so a failed save
// leaves the old file as it was.
//
// The writers read the lists through the models the window shows, in their
// current order: column 0 is a row's caption, the other columns its
// sub-items, all as Qt::DisplayRole texts. Each line goes to the file as soon
// as it is formatted; neither the list nor the report is held in memory.
//
// Result list, text table: a 130-byte rule, the header, the rule, one line
// per row, the rule. Positions count CP932 bytes (a full-width character
// counts two): a row is " " Result "  " DateTime "  " Target, then each of
// IPAddress, StatusInfo and Comment after padding with blanks to 59, 76 and
// 109 bytes and one more blank. A cell longer than its column pushes the rest
// of the line right; nothing is cut.
//
// Result list, CSV: the header and one line per row, every cell in double
// quotes, a double quote inside a cell doubled.
//
// Statistics, CSV: the header, then per row the quoted address, the six
// numbers (the displayed text reduced to its digits and points, "0" when
// none remain) and the quoted comment.
//
// Trace tree: one line per node in depth-first order, one TAB per level of
// depth before the node's text.

#include <QString>
#include <QStringList>

class QAbstractItemModel;

namespace tarvok {

struct ReportResult {
    bool written = false;
    QString error; // why the file could not be written
    bool refused = false; // another user's link or no regular file: `error` names it
    // Cells holding characters that CP932 cannot represent; each such
    // character was written as '?'. The first few distinct texts of them as
    // displayed, and whether there are more.
    int changedCount = 0;
    QStringList changedTexts;
    bool moreChangedTexts = false;
};

// The result list: CSV when `asCsv`, the text table otherwise.
ReportResult SaveResultList(const QString& path, const QAbstractItemModel& results, bool asCsv);
ReportResult SaveStatistics(const QString& path, const QAbstractItemModel& statistics);
ReportResult SaveTraceOutline(const QString& path, const QAbstractItemModel& tree);

// What to tell the operator about a report that was written with changed
// texts; empty when nothing was changed.
QString ChangedTextsMessage(const QString& path, const ReportResult& result);

} // namespace tarvok
