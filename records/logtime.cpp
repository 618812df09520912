#include "records/logtime.h"

QString TimeFormatWithSeconds(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (format.contains(QLatin1Char('s'))) {
        return format;
    }
    const qsizetype minutesEnd = format.lastIndexOf(QLatin1Char('m')) + 1;
    if (minutesEnd <= 0) {
        return QStringLiteral("HH:mm:ss");
    }
    qsizetype minutesStart = minutesEnd - 1;
    while (minutesStart > 0 && format[minutesStart - 1] == QLatin1Char('m')) {
        --minutesStart;
    }
    // Seconds follow the minutes with the separator that comes before the minutes ("H.mm"
    // becomes "H.mm.ss"), or with a colon where there is none to copy.
    QChar separator = QLatin1Char(':');
    if (minutesStart > 0) {
        const QChar before = format[minutesStart - 1];
        if (!before.isLetter() && before != QLatin1Char('\'')) {
            separator = before;
        }
    }
    format.insert(minutesEnd, separator + QStringLiteral("ss"));
    return format;
}

QString LogDateTimeText(const QDateTime& when, const QLocale& locale) {
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), TimeFormatWithSeconds(locale));
}
