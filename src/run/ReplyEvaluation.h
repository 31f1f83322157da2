#pragma once
// Judging one echo of a ping run: the texts of its result row, the status-bar
// line, the alert message, the counters of its target and the log line.

#include "monitor/TargetState.h"
#include "store/Preferences.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace tarvok {

inline constexpr char16_t OkText[] = u"ＯＫ";
inline constexpr char16_t NgText[] = u"ＮＧ";

// "yyyy/mm/dd hh:nn:ss", hours 00-23.
QString FormatDateTime(const QDateTime& dt);
// "Time:" + the RTT padded to 6 + "ms".
QString FormatTimeInfo(quint32 rtt);
// The status bar while an echo to `address` waits: "ping to " + address + " ...".
QString PingingText(const QString& address);

// What one reply means, before anything is recorded.
struct Judgement {
    bool answered = false;  // status 0: counts as answered, the row reads ＯＫ
    bool isNG = false;      // NG for the alert rules (failed, or slow with CheckRTT)
    bool slow = false;      // answered but at or above CheckRTTValue
    int icon = 0;           // 1 OK row, 2 NG row
    QString result;         // "ＯＫ" / "ＮＧ"
    QString ipAddress;      // empty for "0.0.0.0"
    QString statusInfo;     // "Time:    12ms" or the engine's status text
    QString statusBar;      // panel-0 line
    QString message;        // for ApplyAlertRules
};

// statusText maps a status code to the engine's text (TKtICMP::StatusText).
Judgement JudgeReply(const QString& target, int status, const QString& ipAddress, quint32 rtt,
                     const Preferences& prefs, QString (*statusText)(int));

// Updates the counters after the alert rules have seen the reply (Attempts is
// counted before, by CountAttempt).
void CountAttempt(TargetState& state);
void RecordJudgement(TargetState& state, const Judgement& j, quint32 rtt, const Preferences& prefs);

// Comma text: items joined with ","; an item holding a character <= 0x20, a
// double quote or a comma is quoted with inner quotes doubled.
QString CommaText(const QStringList& items);
// The log line: "\"" + result + "\"," + the comma text of the five sub-items.
QString BuildLogLine(const QString& result, const QString& dateTime, const QString& target,
                     const QString& ipAddress, const QString& statusInfo, const QString& comment);

} // namespace tarvok
