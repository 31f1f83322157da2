#pragma once
// The parameter file kept beside a target file: the target file's full name
// followed by ".#CONFIG#", fifteen CP932 lines ended by CR LF, holding the
// run parameters that belong to the list.

#include "targets/RunParameters.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace tarvok {

// "<targetFile>.#CONFIG#" (the suffix is added to the complete name, so
// "list" gets "list.#CONFIG#" and "a.txt" gets "a.txt.#CONFIG#").
QString parameterFilePath(const QString& targetFile);

// The file's bytes: the fifteen lines in CP932, each ended by CR LF. Line 1
// carries `now` as "yyyy/MM/dd HH:mm:ss"; line 2 the name part of
// `targetFileName` (a folder in front of it is dropped).
QByteArray formatParameterFile(const QString& targetFileName, const RunParameters& params, const QDateTime& now);

// Writes the file whole and atomically; on failure the old file stays as it
// was, and *error (when given) says why. Callers of the save commands ignore
// the result, as a parameter file that cannot be written is not worth a
// message.
bool writeParameterFile(const QString& path, const QString& targetFileName, const RunParameters& params,
                        const QDateTime& now, QString* error = nullptr);

struct ParameterFileResult {
    enum Status {
        Read,        // the file was read; every key found has been applied
        Missing,     // no file at the path: nothing changed
        Unreadable,  // the file exists but cannot be read: nothing changed
        NotInteger,  // a numeric value is no integer: reading stopped there
    };
    Status status = Read;
    QString badValue; // NotInteger: the value as it stands in the file
    QString message;  // Unreadable / NotInteger: the text to show the operator
    bool utf8 = false; // the file was read as UTF-8 (it will be saved as CP932)

    bool failed() const { return status == Unreadable || status == NotInteger; }
};

// Applies the file's values to `inOut`, key by key in the order PingCount,
// PingWait, Sorted, TimeOut, BlockSize, TimeToLive, Parmanent, Interval,
// MaxHops, ResolveHostName. A key's value comes from the first line whose
// text before its first "=" equals the key (letters in any case). Numeric
// keys: missing or empty leaves the value, otherwise the integer clamped to
// the control's range; a value that is no integer stops reading with
// NotInteger, keys after it keep their values. Sorted and Parmanent are true
// only for exactly "1"; ResolveHostName is false only for exactly "0".
ParameterFileResult readParameterFile(const QString& path, RunParameters& inOut);
// The same over the file's bytes, once they have been read.
ParameterFileResult applyParameterBytes(const QByteArray& bytes, RunParameters& inOut);

// Integer text as the parameter file accepts it: blanks around it, an
// optional sign, then decimal digits, or hexadecimal after "$" or "0x"/"0X".
// The value must fit in 32 signed bits.
bool parseIntegerText(const QString& text, int* value);

} // namespace tarvok
