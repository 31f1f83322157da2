// The parameters of a program started by an alert: the operator's parameter
// text is split into arguments first and the placeholders are filled inside
// each one. Whatever the target, comment and message hold (blanks, quotes,
// shell syntax, placeholders), every argument of the split stays exactly one
// argument; only an unquoted one that is left empty is dropped.

#include "FuzzSupport.h"
#include "monitor/ShellEx.h"

using namespace tarvok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    PlaceholderValues v;
    v.target = fuzz::text(in.chunk(64));
    v.dateTime = fuzz::text(in.chunk(24));
    v.message = fuzz::text(in.chunk(64));
    v.comment = fuzz::text(in.chunk(64));
    const QString parameters = fuzz::text(in.rest());

    const QList<CommandArgument> split = SplitCommandLine(parameters);
    for (const CommandArgument& a : split)
        FUZZ_CHECK(a.quoted || (!a.text.isEmpty() && !a.text.contains(u' ') && !a.text.contains(u'\t')));

    const QStringList filled = BuildCommandArguments(parameters, v);
    qsizetype at = 0;
    for (const CommandArgument& a : split) {
        const QString expected = ReplacePlaceholders(a.text, v);
        if (expected.isEmpty() && !a.quoted)
            continue;
        FUZZ_CHECK(at < filled.size() && filled[at] == expected);
        ++at;
    }
    FUZZ_CHECK(at == filled.size());

    // Values without placeholders are inserted as they stand: a value is
    // found whole in the argument that held its placeholder.
    if (!v.target.contains(u'%')) {
        for (const CommandArgument& a : split)
            if (a.text == QStringLiteral("%n"))
                FUZZ_CHECK(ReplacePlaceholders(a.text, v) == v.target);
    }
    return 0;
}
