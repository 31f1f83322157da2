// The parameter file kept beside a target file, over arbitrary bytes. Every
// value read lies in its control's range; reading stops only at a value that
// is no integer; and the parameters written out read back unchanged.

#include "FuzzSupport.h"
#include "targets/ParameterFile.h"

using namespace tarvok;

namespace {

bool inRange(const RunParameters& p)
{
    return p.PingCount >= 1 && p.PingCount <= 100000 && p.PingWait >= 1 && p.PingWait <= 100000 && p.TimeOut >= 1
           && p.TimeOut <= 100000 && p.BlockSize >= 1 && p.BlockSize <= 4096 && p.TimeToLive >= 1
           && p.TimeToLive <= 255 && p.Interval >= 0 && p.Interval <= 10000 && p.MaxHops >= 1 && p.MaxHops <= 255;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    RunParameters p;
    const ParameterFileResult r = applyParameterBytes(bytes, p);
    FUZZ_CHECK(r.status == ParameterFileResult::Read || r.status == ParameterFileResult::NotInteger);
    FUZZ_CHECK(inRange(p));
    if (r.status == ParameterFileResult::NotInteger) {
        int ignored = 0;
        FUZZ_CHECK(!r.badValue.isEmpty() && !parseIntegerText(r.badValue, &ignored));
        FUZZ_CHECK(r.message.contains(r.badValue));
    }

    // What is written reads back as it was, whatever the file before held.
    const QByteArray out = formatParameterFile(QStringLiteral("a.txt"), p, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    RunParameters back;
    back.PingCount = 77;
    back.Sorted = !p.Sorted;
    back.Parmanent = !p.Parmanent;
    back.ResolveHostName = !p.ResolveHostName;
    FUZZ_CHECK(applyParameterBytes(out, back).status == ParameterFileResult::Read);
    FUZZ_CHECK(back == p);
    return 0;
}
