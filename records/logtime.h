#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// The date and time of an Errors.Log entry: the date in the locale's short date format, one
// blank, and the time of day in the locale's time format, always to the second.
QString LogDateTimeText(const QDateTime& when, const QLocale& locale);

// The locale's short time format with seconds added after the minutes where it has none.
QString TimeFormatWithSeconds(const QLocale& locale);
