#include "ApplicationTable.h"

#include "core/SuiteApplications.h"

namespace {

const SuiteApplication& suiteRow(int index) { return SuiteApplicationTable[index]; }

} // namespace

QString ApplicationEntry::caption() const { return suiteRow(SuiteIndex).caption.toString(); }
QString ApplicationEntry::section() const { return suiteRow(SuiteIndex).section.toString(); }
QString ApplicationEntry::suiteAplName() const { return suiteRow(SuiteIndex).aplName.toString(); }

const ClassEntry* ApplicationEntry::classByIdx(int classIdx) const
{
    for (int i = 0; i < ClassCount; ++i)
        if (Classes[i].ClassIdx == classIdx)
            return &Classes[i];
    return nullptr;
}

int ApplicationTable::indexOfAplId(int aplId) const
{
    for (int i = 0; i < count; ++i)
        if (entries[i].AplId == aplId)
            return i;
    return -1;
}

const ApplicationEntry* ApplicationTable::byAplId(int aplId) const
{
    const int i = indexOfAplId(aplId);
    return i < 0 ? nullptr : &entries[i];
}
