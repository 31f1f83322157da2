#pragma once
// Per-target statistics: the texts of a statistics row, the selection
// commands of the 統計 menu, and the pieces shared by the two list models
// (item roles, header-click sort memory, locale-aware text ordering).

#include "monitor/TargetState.h"

#include <QString>
#include <QStringList>
#include <Qt>
#include <functional>
#include <memory>
#include <vector>

namespace tarvok {

// Item-data roles of the result and statistics models.
enum ListRole : int {
    // Column 0: index into ImageList1 of the row's small image (int).
    ImageIndexRole = Qt::UserRole + 1,
    // Column 0 of the statistics list: index of the state image (10, the red
    // ball, when the failure rate is exactly 100), or -1 for none.
    StateImageIndexRole,
    // Statistics list, any column: the target index the row belongs to.
    TargetIndexRole,
};

// Image indices of ImageList1 used by the lists.
namespace image {
inline constexpr int Computer = 0;
inline constexpr int Ok = 1;
inline constexpr int Ng = 2;
inline constexpr int RedBall = 10;
} // namespace image

// Left-pads with blanks to `width` characters; longer texts stay as they are.
QString PadLeft(const QString& text, int width);

// Snapshot of the counters of one target as shown by its statistics row.
struct StatCounters {
    int Attempts = 0;
    int Failures = 0;
    int MinTime = TargetState::NoTime;
    int MaxTime = TargetState::NoTime;
    qint64 TotalTime = 0;

    static StatCounters of(const TargetState& s)
    {
        return {s.Attempts, s.Failures, s.MinTime, s.MaxTime, s.TotalTime};
    }
};

// Failure rate in tenths of a percent: round(F / A * 1000), ties to even
// (1 of 16 -> 62, 1 of 2000 -> 0, 1999 of 2000 -> 1000). -1 when A <= 0.
int FailureRateTenths(int attempts, int failures);
// Average round-trip time, ties to even (12.5 -> 12, 13.5 -> 14); -1 when no
// echo was answered.
qint64 AverageTime(qint64 totalTime, int answered);

// The texts of the numeric columns.
QString FormatCount(int count);                     // "     3回"
QString FormatRate(int attempts, int failures);     // "33.3%", "   0%", "    %"
QString FormatMs(int ms);                           // "    12ms", "      ms" for 999999
QString FormatAverage(const StatCounters& c);       // "    12ms", "      ms"

// One statistics row as displayed (caption and the seven sub-items), for the
// save and export commands.
struct StatRow {
    QString Target;
    QString Attempts;
    QString Failures;
    QString Rate;
    QString MinTime;
    QString MaxTime;
    QString Average;
    QString Comment;
    int StateImage = -1; // image::RedBall when the rate is exactly 100
    QStringList subItems() const { return {Attempts, Failures, Rate, MinTime, MaxTime, Average, Comment}; }
};
StatRow MakeStatRow(const QString& address, const QString& comment, const StatCounters& c);

// The selection commands of the 統計 menu. Each returns, for every target
// index, whether that target's row is to be selected.
std::vector<bool> SelectOKAddress(const std::vector<TargetState>& states);    // Attempts - Failures > 0
std::vector<bool> SelectNGAddress(const std::vector<TargetState>& states);    // Failures > 0
std::vector<bool> SelectAllOKAddress(const std::vector<TargetState>& states); // Failures = 0, Attempts > 0
std::vector<bool> SelectAllNGAddress(const std::vector<TargetState>& states); // Failures = Attempts
std::vector<bool> ReverseSelect(const std::vector<bool>& selected);

// Enabling of the 統計 menu (computed when it opens): the five selection
// actions need an idle window and at least one row; the two run actions also
// need a selected row.
struct ToukeiMenuState {
    bool selectionActions = false; // P
    bool runActions = false;       // Q
};
ToukeiMenuState ToukeiMenuEnabling(bool busy, int rowCount, int selectedCount);

// The memory of one list's header-click sort: the first click on a column
// sorts ascending, a second click on the same column descending, and so on.
class ListSortMemory {
public:
    // Records a click on `column`; returns true for an ascending sort.
    bool click(int column);
    int column() const { return column_; }
    void reset() { column_ = 0, ascending_ = false; }

private:
    int column_ = 0;
    bool ascending_ = false;
};

// Orders display texts as the operator's locale does: Japanese collation,
// case-sensitive, blanks and punctuation significant (so blank-padded numbers
// order by value).
class TextOrder {
public:
    TextOrder();
    ~TextOrder();
    TextOrder(const TextOrder&) = delete;
    TextOrder& operator=(const TextOrder&) = delete;
    int compare(const QString& a, const QString& b) const;
    // Ranks of `texts` in collation order: equal texts share a rank, a lower
    // rank sorts first.
    std::vector<int> ranks(const QStringList& texts) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The sort permutation of `count` rows by integer keys: stable, ascending or
// descending. Returns the old row number for every new position.
std::vector<int> SortPermutation(const std::vector<qint64>& keys, bool ascending);

} // namespace tarvok
