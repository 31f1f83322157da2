#pragma once
// The address range run: the first three octets of an IPv4 address and a
// span of values of the fourth, as the range dialog holds them, checked,
// remembered in section [ContinuationIP] of the settings file, and expanded
// into targets.

#include <QString>
#include <QStringList>

namespace tarvok {

class IniFile;
class TargetList;

inline constexpr const char* kContinuationIpSection = "ContinuationIP";

struct AddressRange {
    int octet1 = 192;
    int octet2 = 168;
    int octet3 = 0;
    int start = 1; // fourth octet of the first address
    int end = 10;  // fourth octet of the last address

    bool operator==(const AddressRange&) const = default;
};

// The five keys of [ContinuationIP]; a missing key, or one whose value is no
// integer, gives the default above.
AddressRange loadAddressRange(const IniFile& ini);
// Writes the five keys as decimal integers (other sections and keys stay).
void saveAddressRange(IniFile& ini, const AddressRange& range);
// Reads the settings file at `iniPath`, writes the section and saves the
// whole file atomically. A file that exists but cannot be read is left as it
// is. False with *error = "<path> に書き込めません" when nothing was stored.
bool storeAddressRange(const QString& iniPath, const AddressRange& range, QString* error = nullptr);

// The check of the five field texts (first, second, third octet, start,
// end), stopping at the first failure.
struct RangeCheck {
    enum Failure {
        None,
        NotANumber,     // "数値以外の値が入力されています。"; the field gets the focus
        OutOfRange,     // "入力の範囲が不適切です。"
        InvalidAddress, // "入力が不正です。": the start or end address is 255.255.255.255
    };
    Failure failure = None;
    int field = -1;      // 0..4: the field that failed (NotANumber, OutOfRange)
    AddressRange values; // as entered (start may exceed end); valid when failure == None

    bool ok() const { return failure == None; }
    QString message() const;
};
RangeCheck CheckAddressRange(const QStringList& fields);

// Start and end in ascending order.
AddressRange ordered(AddressRange range);

// Replaces the list by prefix + n for n from start to end (ascending, the
// range taken as ordered), with empty comments: "192.168.0.1" ... Values are
// written in plain decimal, whatever was typed.
void FillRangeTargets(TargetList& list, const AddressRange& range);

} // namespace tarvok
