#include "util/app_locale.h"

#include <mutex>

namespace ferret {
namespace {

QLocale& LocaleSlot() {
    static QLocale locale = [] {
        QLocale system = QLocale::system();
        if (system.language() == QLocale::C) {
            return QLocale(QLocale::English, QLocale::UnitedStates);
        }
        return system;
    }();
    return locale;
}

}  // namespace

const QLocale& AppLocale() { return LocaleSlot(); }

void SetAppLocale(const QLocale& locale) { LocaleSlot() = locale; }

std::string FormatNumber(double value, int decimals, bool grouping) {
    QLocale locale = AppLocale();
    locale.setNumberOptions(grouping ? QLocale::DefaultNumberOptions
                                     : QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals).toStdString();
}

std::string FormatGeneralDateTime(const QDateTime& when) {
    const QLocale& locale = AppLocale();
    QString date = locale.dateFormat(QLocale::ShortFormat);
    // Short formats often carry a two-digit year; the general date shows all four digits.
    if (!date.contains(QLatin1String("yyyy"))) {
        date.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    }
    QString time = locale.timeFormat(QLocale::ShortFormat);
    if (!time.contains(QLatin1String("ss"))) {
        time.replace(QLatin1String("mm"), QLatin1String("mm:ss"));
    }
    return locale.toString(when, date + QLatin1Char(' ') + time).toStdString();
}

}  // namespace ferret
