#include "util/app_locale.h"

#include <cstdio>

namespace ferret {
namespace {

std::string QtNumber(const QLocale& base, double value, int decimals, bool grouping) {
    QLocale locale = base;
    locale.setNumberOptions(grouping ? QLocale::DefaultNumberOptions : QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', decimals).toStdString();
}

// Sizes and times are formatted for every listed file, so the common case (Western digits,
// groups of three) is done without QString; other locales go through Qt.
struct NumberStyle {
    bool fast = false;
    std::string decimal_point;
    std::string group_separator;
};

std::string FastNumber(const NumberStyle& style, double value, int decimals, bool grouping) {
    char digits[400];
    const int length = std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
    const std::string_view text(digits, static_cast<std::size_t>(length));
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::string out;
    out.reserve(text.size() + text.size() / 3 * style.group_separator.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (grouping && i > 0 && (whole.size() - i) % 3 == 0) {
            out += style.group_separator;
        }
        out.push_back(whole[i]);
    }
    if (point != std::string_view::npos) {
        out += style.decimal_point;
        out += text.substr(point + 1);
    }
    return out;
}

NumberStyle StyleOf(const QLocale& locale) {
    NumberStyle style;
    style.decimal_point = locale.decimalPoint().toStdString();
    style.group_separator = locale.groupSeparator().toStdString();
    // Use the fast form only where it gives exactly what Qt gives.
    style.fast = true;
    for (const double sample : {0.0, 7.5, 999.999, 1234.5, 1234567.891, 98765432109.0}) {
        for (const int decimals : {0, 2, 3}) {
            for (const bool grouping : {false, true}) {
                if (FastNumber(style, sample, decimals, grouping) !=
                    QtNumber(locale, sample, decimals, grouping)) {
                    style.fast = false;
                    return style;
                }
            }
        }
    }
    return style;
}

struct LocaleState {
    QLocale locale;
    NumberStyle style;
};

LocaleState& State() {
    static LocaleState state = [] {
        QLocale system = QLocale::system();
        if (system.language() == QLocale::C) {
            system = QLocale(QLocale::English, QLocale::UnitedStates);
        }
        return LocaleState{system, StyleOf(system)};
    }();
    return state;
}

}  // namespace

const QLocale& AppLocale() {
    return State().locale;
}

void SetAppLocale(const QLocale& locale) {
    State() = LocaleState{locale, StyleOf(locale)};
}

std::string FormatNumber(double value, int decimals, bool grouping) {
    const LocaleState& state = State();
    if (state.style.fast && value >= 0 && value < 1e300) {
        return FastNumber(state.style, value, decimals, grouping);
    }
    return QtNumber(state.locale, value, decimals, grouping);
}

QString GeneralDateTimeFormat() {
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
    return date + QLatin1Char(' ') + time;
}

std::string FormatGeneralDateTime(const QDateTime& when) {
    return AppLocale().toString(when, GeneralDateTimeFormat()).toStdString();
}

}  // namespace ferret
