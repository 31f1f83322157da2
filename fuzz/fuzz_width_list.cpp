// Column width lists as stored in the INI file. Any text gives exactly one
// width per column, and the widths the program writes read back unchanged.

#include "FuzzSupport.h"
#include "store/Settings.h"

using namespace tarvok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const int columns = in.byte() % 12;
    QList<int> widths;
    for (int i = 0; i < columns; ++i)
        widths << static_cast<int>(in.u32());
    const QString stored = fuzz::text(in.rest());

    QList<int> current(columns, 77);
    const QList<int> applied = applyWidthList(stored, current);
    FUZZ_CHECK(applied.size() == columns);
    const QStringList items = splitWidthList(stored);
    for (int i = static_cast<int>(items.size()); i < columns; ++i)
        FUZZ_CHECK(applied[i] == 77);

    FUZZ_CHECK(applyWidthList(formatWidthList(widths), current) == widths);
    return 0;
}
