#include "run/AddressRange.h"

#include "base/IntegerText.h"
#include "store/IniFile.h"
#include "targets/TargetList.h"

#include <arpa/inet.h>

#include <utility>

namespace tarvok {

namespace {

constexpr const char* kKeys[5] = {"StartOctet_1", "StartOctet_2", "StartOctet_3", "StartOctet_4", "EndOctet_4"};

int* fieldOf(AddressRange& r, int i)
{
    int* fields[5] = {&r.octet1, &r.octet2, &r.octet3, &r.start, &r.end};
    return fields[i];
}

int valueOf(const AddressRange& r, int i)
{
    const int values[5] = {r.octet1, r.octet2, r.octet3, r.start, r.end};
    return values[i];
}

// The platform's dotted-address conversion; it cannot tell a failure from
// 255.255.255.255, so both count as no address.
bool convertible(const AddressRange& r, int fourth)
{
    const QByteArray dotted = QStringLiteral("%1.%2.%3.%4").arg(r.octet1).arg(r.octet2).arg(r.octet3).arg(fourth).toLatin1();
    return inet_addr(dotted.constData()) != INADDR_NONE;
}

} // namespace

AddressRange loadAddressRange(const IniFile& ini)
{
    AddressRange r;
    for (int i = 0; i < 5; ++i)
        *fieldOf(r, i) = ini.readInteger(QLatin1String(kContinuationIpSection), QLatin1String(kKeys[i]), valueOf(r, i));
    return r;
}

void saveAddressRange(IniFile& ini, const AddressRange& range)
{
    for (int i = 0; i < 5; ++i)
        ini.writeInteger(QLatin1String(kContinuationIpSection), QLatin1String(kKeys[i]), valueOf(range, i));
}

bool storeAddressRange(const QString& iniPath, const AddressRange& range, QString* error)
{
    IniFile ini;
    // Saving over a file that could not be read would lose its other sections.
    if (!ini.load(iniPath)) {
        if (error)
            *error = IniFile::cannotWriteMessage(iniPath);
        return false;
    }
    saveAddressRange(ini, range);
    return ini.save(error);
}

QString RangeCheck::message() const
{
    switch (failure) {
    case NotANumber:
        return QStringLiteral("数値以外の値が入力されています。");
    case OutOfRange:
        return QStringLiteral("入力の範囲が不適切です。");
    case InvalidAddress:
        return QStringLiteral("入力が不正です。");
    case None:
        break;
    }
    return {};
}

RangeCheck CheckAddressRange(const QStringList& fields)
{
    RangeCheck c;
    for (int i = 0; i < 5; ++i) {
        const std::optional<int> v = text::parseInteger(i < fields.size() ? fields.at(i) : QString());
        if (!v) {
            c.failure = RangeCheck::NotANumber;
            c.field = i;
            return c;
        }
        if (*v < 0 || *v > 255) {
            c.failure = RangeCheck::OutOfRange;
            c.field = i;
            return c;
        }
        *fieldOf(c.values, i) = *v;
    }
    if (!convertible(c.values, c.values.start) || !convertible(c.values, c.values.end))
        c.failure = RangeCheck::InvalidAddress;
    return c;
}

AddressRange ordered(AddressRange range)
{
    if (range.start > range.end)
        std::swap(range.start, range.end);
    return range;
}

void FillRangeTargets(TargetList& list, const AddressRange& range)
{
    const AddressRange r = ordered(range);
    const QString prefix = QStringLiteral("%1.%2.%3.").arg(r.octet1).arg(r.octet2).arg(r.octet3);
    list.clear();
    for (int n = r.start; n <= r.end; ++n)
        list.append(prefix + QString::number(n), QString());
}

} // namespace tarvok
