#include "store/ReportWriter.h"

#include "base/AtomicFile.h"
#include "base/Cp932.h"

#include <QAbstractItemModel>
#include <vector>

namespace tarvok {

namespace {

constexpr const char* Rule = "+-----+--------------------+-------------------------------+----------------+"
                             "--------------------------------+-------------------+";
constexpr qsizetype IpColumnEnd = 59;     // a blank and IPAddress follow
constexpr qsizetype StatusColumnEnd = 76; // a blank and StatusInfo follow
constexpr qsizetype CommentColumnEnd = 109;

constexpr int ResultColumns = 6; // caption and five sub-items
constexpr int StatColumns = 8;   // caption and seven sub-items
constexpr int MaxChangedTexts = 5;
constexpr qsizetype FlushBytes = 256 * 1024;

// Lines of one report on their way to the file: encoded to CP932 cell by
// cell and handed to the atomic writer in large pieces.
class ReportSink {
public:
    explicit ReportSink(const QString& path) : file_(path)
    {
        buffer_.reserve(FlushBytes + 4096);
        ok_ = file_.open();
    }

    // False once the file could not be opened or written: the rest of the
    // report need not be formatted.
    bool ok() const { return ok_; }
    QByteArray& line() { return line_; }

    // Appends the cell's text to the current line.
    void text(const QString& cell)
    {
        const int lost = encoder_.append(cell, line_);
        if (lost > 0) {
            ++result_.changedCount;
            if (!result_.changedTexts.contains(cell)) {
                if (result_.changedTexts.size() < MaxChangedTexts)
                    result_.changedTexts.append(cell);
                else
                    result_.moreChangedTexts = true;
            }
        }
    }

    // The cell in double quotes, a double quote inside it doubled. (No CP932
    // trail byte is 0x22, so the quotes can be found in the encoded bytes.)
    void quoted(const QString& cell)
    {
        line_.append('"');
        const qsizetype from = line_.size();
        text(cell);
        if (line_.indexOf('"', from) >= 0) {
            QByteArray inner = line_.mid(from);
            line_.truncate(from);
            line_.append(inner.replace("\"", "\"\""));
        }
        line_.append('"');
    }

    void padTo(qsizetype bytes)
    {
        if (line_.size() < bytes)
            line_.append(bytes - line_.size(), ' ');
    }

    void endLine()
    {
        buffer_.append(line_);
        buffer_.append("\r\n", 2);
        line_.truncate(0); // keeps its room for the next line
        if (buffer_.size() >= FlushBytes)
            flush();
    }

    void fixedLine(const char* text)
    {
        line_.append(text);
        endLine();
    }

    void fixedLine(const QString& text)
    {
        line_.append(text::encodeCp932(text).bytes);
        endLine();
    }

    ReportResult finish()
    {
        flush();
        if (ok_ && file_.commit())
            result_.written = true;
        else {
            result_.error = file_.errorString();
            result_.refused = file_.refused();
        }
        return result_;
    }

private:
    void flush()
    {
        if (ok_ && !buffer_.isEmpty())
            ok_ = file_.write(buffer_);
        buffer_.truncate(0);
    }

    AtomicFileWriter file_;
    text::Cp932Encoder encoder_;
    QByteArray line_;
    QByteArray buffer_;
    ReportResult result_;
    bool ok_ = false;
};

QString cellText(const QAbstractItemModel& model, int row, int column, const QModelIndex& parent = {})
{
    return model.data(model.index(row, column, parent), Qt::DisplayRole).toString();
}

// A statistics number: the displayed text with every character removed that
// is neither a digit nor a point; "0" when nothing remains.
void appendNumber(QByteArray& line, const QString& display)
{
    const qsizetype start = line.size();
    for (QChar c : display)
        if ((c >= u'0' && c <= u'9') || c == u'.')
            line.append(static_cast<char>(c.unicode()));
    if (line.size() == start)
        line.append('0');
}

void writeTable(ReportSink& out, const QAbstractItemModel& results)
{
    out.fixedLine(Rule);
    out.fixedLine(QStringLiteral(" 結果  日時                 対象                            ＩＰアドレス     "
                                 "ステータス                       備考"));
    out.fixedLine(Rule);
    const int rows = results.rowCount();
    for (int r = 0; r < rows && out.ok(); ++r) {
        out.line().append(' ');
        out.text(cellText(results, r, 0));
        out.line().append("  ", 2);
        out.text(cellText(results, r, 1));
        out.line().append("  ", 2);
        out.text(cellText(results, r, 2));
        out.padTo(IpColumnEnd);
        out.line().append(' ');
        out.text(cellText(results, r, 3));
        out.padTo(StatusColumnEnd);
        out.line().append(' ');
        out.text(cellText(results, r, 4));
        out.padTo(CommentColumnEnd);
        out.line().append(' ');
        out.text(cellText(results, r, 5));
        out.endLine();
    }
    out.fixedLine(Rule);
}

void writeResultCsv(ReportSink& out, const QAbstractItemModel& results)
{
    out.fixedLine(QStringLiteral("\"結果\",\"日時\",\"対象\",\"ＩＰアドレス\",\"ステータス\",\"備考\""));
    const int rows = results.rowCount();
    for (int r = 0; r < rows && out.ok(); ++r) {
        for (int c = 0; c < ResultColumns; ++c) {
            if (c > 0)
                out.line().append(',');
            out.quoted(cellText(results, r, c));
        }
        out.endLine();
    }
}

} // namespace

ReportResult SaveResultList(const QString& path, const QAbstractItemModel& results, bool asCsv)
{
    ReportSink out(path);
    if (asCsv)
        writeResultCsv(out, results);
    else
        writeTable(out, results);
    return out.finish();
}

ReportResult SaveStatistics(const QString& path, const QAbstractItemModel& statistics)
{
    ReportSink out(path);
    out.fixedLine(QStringLiteral("\"対象\",\"実施回数\",\"失敗回数\",\"失敗率(%)\",\"最短時間(ms)\",\"最大時間(ms)\","
                                 "\"平均時間(ms)\",\"備考\""));
    const int rows = statistics.rowCount();
    for (int r = 0; r < rows && out.ok(); ++r) {
        out.quoted(cellText(statistics, r, 0));
        for (int c = 1; c < StatColumns - 1; ++c) {
            out.line().append(',');
            appendNumber(out.line(), cellText(statistics, r, c));
        }
        out.line().append(',');
        out.quoted(cellText(statistics, r, StatColumns - 1));
        out.endLine();
    }
    return out.finish();
}

ReportResult SaveTraceOutline(const QString& path, const QAbstractItemModel& tree)
{
    ReportSink out(path);
    // Depth first: a node, all of its descendants, then its next sibling.
    struct Level {
        QModelIndex parent;
        int next;
        int rows;
    };
    std::vector<Level> stack{{QModelIndex(), 0, tree.rowCount()}};
    while (!stack.empty() && out.ok()) {
        Level& level = stack.back();
        if (level.next >= level.rows) {
            stack.pop_back();
            continue;
        }
        const QModelIndex node = tree.index(level.next++, 0, level.parent);
        out.line().append(static_cast<qsizetype>(stack.size() - 1), '\t');
        out.text(tree.data(node, Qt::DisplayRole).toString());
        out.endLine();
        const int children = tree.rowCount(node);
        if (children > 0)
            stack.push_back({node, 0, children});
    }
    return out.finish();
}

QString ChangedTextsMessage(const QString& path, const ReportResult& result)
{
    if (result.changedCount == 0)
        return {};
    QString message = QStringLiteral("次の文字列にはファイルの文字コードで表せない文字があるため、"
                                     "その文字を「?」に置き換えて %1 に保存しました（%2 か所）。\n")
                          .arg(path)
                          .arg(result.changedCount);
    for (const QString& t : result.changedTexts)
        message += QStringLiteral("\n・") + t;
    if (result.moreChangedTexts)
        message += QStringLiteral("\n・…");
    return message;
}

} // namespace tarvok
