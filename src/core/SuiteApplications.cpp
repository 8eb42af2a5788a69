#include "SuiteApplications.h"

// Row 0 is this program. Mod04 is a program of its own that keeps its users under the
// application Mod03; Mod41, Mod52 and Mod02A likewise share Mod40, Mod51 and Mod02.
const std::array<SuiteApplication, kSuiteApplicationCount> SuiteApplicationTable = {{
    {u"Gatekeep", u"Gatekeep.ini", u"Gatekeep", u"1", u"Пароли", u"Mod01"},
    {u"Mod01", u"Mod01.ini", u"Mod01", u"1", u"Пароли (стара версия)", u"Mod01"},
    {u"Mod02", u"Mod02.ini", u"Mod02", u"2", u"Деловодство", u"Mod02"},
    {u"Mod03", u"Mod03.ini", u"Mod03", u"3", u"Счетоводство", u"Mod03"},
    {u"Mod04", u"Mod04.ini", u"Mod03", u"4", u"Счетоводни отчети", u"Mod03"},
    {u"Mod05", u"Mod05.ini", u"Mod05", u"5", u"Заплати", u"Mod05"},
    {u"Mod06", u"Mod06.ini", u"Mod06", u"6", u"Личен състав", u"Mod06"},
    {u"Mod07", u"Mod07.ini", u"Mod07", u"7", u"Склад", u"Mod07"},
    {u"Mod08", u"Mod08.ini", u"Mod08", u"8", u"Дълготрайни активи", u"Mod08"},
    {u"Mod09", u"Mod09.ini", u"Mod09", u"9", u"Каса", u"Mod09"},
    {u"Mod10", u"Mod10.ini", u"Mod10", u"10", u"Банка", u"Mod10"},
    {u"Mod11", u"Mod11.ini", u"Mod11", u"11", u"Регистратура", u"Mod11"},
    {u"Mod12", u"Mod12.ini", u"Mod12", u"12", u"Договори", u"Mod12"},
    {u"Mod13", u"Mod13.ini", u"Mod13", u"13", u"Доставки", u"Mod13"},
    {u"Mod14", u"Mod14.ini", u"Mod14", u"14", u"Продажби", u"Mod14"},
    {u"Mod15", u"Mod15.ini", u"Mod15", u"15", u"Фактуриране", u"Mod15"},
    {u"Mod16", u"Mod16.ini", u"Mod16", u"16", u"Бюджет", u"Mod16"},
    {u"Mod17", u"Mod17.ini", u"Mod17", u"17", u"Автопарк", u"Mod17"},
    {u"Mod18", u"Mod18.ini", u"Mod18", u"18", u"Имоти", u"Mod18"},
    {u"Mod19", u"Mod19.ini", u"Mod19", u"19", u"Справки", u"Mod19"},
    {u"Mod20", u"Mod20.ini", u"Mod20", u"20", u"Архив", u"Mod20"},
    {u"Mod40", u"Mod40.ini", u"Mod40", u"40", u"Обществени поръчки", u"Mod40"},
    {u"Mod41", u"Mod41.ini", u"Mod40", u"41", u"Обществени поръчки - регистър", u"Mod40"},
    {u"Mod50", u"", u"Mod50", u"50", u"Портал", u"Mod50"},
    {u"Mod51", u"Mod51.ini", u"Mod51", u"51", u"Електронни услуги", u"Mod51"},
    {u"Mod52", u"Mod52.ini", u"Mod51", u"52", u"Електронни услуги - плащания", u"Mod51"},
    {u"Mod02A", u"Mod02A.ini", u"Mod02", u"21", u"Деловодство - входящ регистър", u"Mod02"},
}};

int FindSuiteApplication(const QString& name)
{
    const QString wanted = name.toUpper();
    for (int i = 0; i < kSuiteApplicationCount; ++i)
        if (SuiteApplicationTable[i].aplName.toString().toUpper() == wanted)
            return i;
    return -1;
}

bool IsOwnApplication(const QString& name) { return FindSuiteApplication(name) == 0; }
