#include "core/Locale.h"
#include "core/TextOps.h"

#include <QCalendarWidget>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLocale>
#include <QPushButton>

#include <gtest/gtest.h>

// Names in Bulgarian, Qt's own texts in Bulgarian, dates always dd.MM.yyyy.
TEST(Locale, BulgarianNamesAndQtTextsWithOneDateForm)
{
    ASSERT_TRUE(UseBulgarianLocale(*QCoreApplication::instance())) << "qt6-translations-l10n is not installed";
    const QLocale locale;
    EXPECT_EQ(locale.language(), QLocale::Bulgarian);
    EXPECT_EQ(locale.monthName(1), QStringLiteral("януари"));
    EXPECT_EQ(locale.toString(12345), QStringLiteral("12345"));

    QCalendarWidget calendar;
    EXPECT_EQ(calendar.locale().language(), QLocale::Bulgarian);

    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отказ"));

    const QDate date(2024, 3, 5);
    EXPECT_EQ(FormatDateDMY(date), QStringLiteral("05.03.2024"));
    EXPECT_EQ(date.toString(kDateFormat), QStringLiteral("05.03.2024"));
    QLocale::setDefault(QLocale::c());
}
