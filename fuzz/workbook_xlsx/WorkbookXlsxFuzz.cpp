// .xlsx workbooks come from anywhere.
#include "../WorkbookFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::readWorkbook(QStringLiteral("book.xlsx"), data, size);
}
