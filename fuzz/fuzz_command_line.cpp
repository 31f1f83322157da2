// The command line, as arguments split at 0 bytes (as argv is). Every
// argument's bytes come back unchanged from its text (a name that is not
// UTF-8 still opens), switches set exactly their options, file names are
// taken as typed from the arguments, and command mode never stays on without
// a start-up run.

#include "FuzzSupport.h"
#include "app/CommandLine.h"
#include "base/SafeOpen.h"

using namespace tarvok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QStringList args;
    for (const QByteArray& a : QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0')) {
        args << fileNameFromBytes(a);
        FUZZ_CHECK(fileNameBytes(args.constLast()) == a);
    }
    const QString def = QStringLiteral("/default/Tarvok.def");
    const CommandLine cl = parseCommandLine(args, def);

    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("--version"))) {
        FUZZ_CHECK(cl.action != CommandLine::Start);
        return 0;
    }
    FUZZ_CHECK(cl.action == CommandLine::Start);
    const auto has = [&](const char* sw) { return args.contains(QLatin1StringView(sw), Qt::CaseInsensitive); };
    FUZZ_CHECK(cl.options.hideAtStart == has("-H"));
    FUZZ_CHECK(cl.options.runAtStart == has("-R"));
    FUZZ_CHECK(cl.options.commandMode == (has("-C") && has("-R")));
    FUZZ_CHECK(cl.targetFileGiven ? args.contains(cl.targetFile) : cl.targetFile == def);
    FUZZ_CHECK(cl.options.outputLogFile == QStringLiteral("TRVLOG.TXT") || args.contains(cl.options.outputLogFile));
    if (!has("-O"))
        FUZZ_CHECK(cl.options.outputLogFile == QStringLiteral("TRVLOG.TXT"));
    return 0;
}
