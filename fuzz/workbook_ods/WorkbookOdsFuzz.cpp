// Workbooks come from anywhere: a malformed one is refused with InputError, never a crash.
#include "../FuzzSupport.h"

#include "bulk/ImportSource.h"
#include "core/InputError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = fuzz::writeTemp(QStringLiteral("book.ods"), fuzz::bytesOf(data, size));
    try {
        for (const WorkbookRow& row : ReadWorkbook(path))
            for (const QString& cell : row)
                fuzz::expect(cell == cell.trimmed(), "cells are trimmed", cell);
    } catch (const InputError& e) {
        fuzz::expect(!e.message().isEmpty(), "a refusal says why");
    }
    return 0;
}
