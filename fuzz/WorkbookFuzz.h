#pragma once

// The workbook targets: a malformed workbook is refused with InputError, never a crash.
#include "FuzzSupport.h"

#include "bulk/Workbook.h"
#include "core/InputError.h"

namespace fuzz {

inline int readWorkbook(const QString& name, const uint8_t* data, size_t size)
{
    const QString path = writeTemp(name, bytesOf(data, size));
    try {
        for (const ImportRow& row : ReadWorkbook(path))
            for (const QString& cell : {row.login, row.fullName, row.password, row.className})
                expect(cell == cell.trimmed(), "cells are trimmed", cell);
    } catch (const InputError& e) {
        expect(!e.message().isEmpty(), "a refusal says why");
    }
    return 0;
}

} // namespace fuzz
