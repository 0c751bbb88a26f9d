#include "app/date_size_panels.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <vector>

#include "app/explorer_bar.h"
#include "app/widget_rules.h"
#include "engine/date_time.h"
#include "util/app_locale.h"

namespace ferret {
namespace {

// DateTime days since 30 December 1899, local time, to and from QDateTime.
QDateTime ToQDateTime(DateTime when) {
    const std::int64_t seconds = static_cast<std::int64_t>((when - 25569.0) * 86400.0 + 0.5);
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toLocalTime().addSecs(0);
}
DateTime FromQDateTime(const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    return DateTimeFromCivil(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

// The options of a panel as radio buttons, one group, ids in order.
QButtonGroup* AddOptions(QWidget* panel, const QStringList& texts, QObject* owner) {
    auto* group = new QButtonGroup(owner);
    for (int i = 0; i < texts.size(); ++i) {
        auto* option = new QRadioButton(texts[i]);
        group->addButton(option, i);
        panel->layout()->addWidget(option);
    }
    return group;
}

// The chosen option's caption is bold; its own controls are enabled only for the last one.
void ApplyOptionRule(QButtonGroup* group, std::vector<QWidget*> controls) {
    const auto apply = [group, controls = std::move(controls)](int chosen) {
        for (QAbstractButton* button : group->buttons()) {
            QFont font = button->font();
            font.setBold(group->id(button) == chosen);
            button->setFont(font);
        }
        for (QWidget* control : controls) {
            control->setEnabled(chosen == 4);
        }
    };
    QObject::connect(group, &QButtonGroup::idClicked, group, apply);
    group->button(0)->setChecked(true);
    apply(0);
}

}  // namespace

DateSizePanels::DateSizePanels(ExplorerBar& bar, QObject* owner) : QObject(owner) {
    QWidget* modified =
        bar.AddPanel(QStringLiteral("MODIFIED"), QStringLiteral("When was it &modified?"), false);
    date_options_ =
        AddOptions(modified,
                   {QStringLiteral("Don't Remember"), QStringLiteral("Within the last week"),
                    QStringLiteral("Past month"), QStringLiteral("Within the last year"),
                    QStringLiteral("Specify Dates")},
                   this);
    date_kind_ = new QComboBox;
    date_kind_->setObjectName(QStringLiteral("cboDateType"));
    date_kind_->addItems({QStringLiteral("Modified Date"), QStringLiteral("Accessed Date"),
                          QStringLiteral("Created Date")});
    date_from_ = new QDateTimeEdit(QDateTime::currentDateTime());
    date_to_ = new QDateTimeEdit(QDateTime::currentDateTime());
    // Dates as the reports write them.
    for (QDateTimeEdit* date : {date_from_, date_to_}) {
        date->setCalendarPopup(true);
        date->setLocale(AppLocale());
        date->setDisplayFormat(GeneralDateTimeFormat());
    }
    modified->layout()->addWidget(date_kind_);
    modified->layout()->addWidget(new QLabel(QStringLiteral("From:")));
    modified->layout()->addWidget(date_from_);
    modified->layout()->addWidget(new QLabel(QStringLiteral("To:")));
    modified->layout()->addWidget(date_to_);

    QWidget* size =
        bar.AddPanel(QStringLiteral("SIZE"), QStringLiteral("What si&ze is it?"), false);
    size_options_ = AddOptions(
        size,
        {QStringLiteral("Don't Remember"), QStringLiteral("Small (less than 100KB)"),
         QStringLiteral("Medium (less than 1MB)"), QStringLiteral("Large (more than 1MB)"),
         QStringLiteral("Specify size (in KB)")},
        this);
    size_compare_ = new QComboBox;
    size_compare_->setObjectName(QStringLiteral("cboSize"));
    size_compare_->addItems({QStringLiteral("At Least"), QStringLiteral("At Most")});
    size_text_ = new QLineEdit;
    size_text_->setObjectName(QStringLiteral("txtSize"));
    size->layout()->addWidget(size_compare_);
    size->layout()->addWidget(size_text_);
    // Only a number: digits and at most one point, not a lone point.
    connect(size_text_, &QLineEdit::textChanged, this, [this](const QString& text) {
        const bool digits_and_points =
            std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit() || c == '.'; });
        if (!text.isEmpty() && (!digits_and_points || text == QStringLiteral(".") ||
                                text.count(QLatin1Char('.')) > 1)) {
            size_text_->clear();
        }
    });
    ApplyOptionRule(date_options_, {date_kind_, date_from_, date_to_});
    ApplyOptionRule(size_options_, {size_compare_, size_text_});
    // The panels scroll under the wheel; their values change only when the user is in them.
    for (QWidget* control :
         std::initializer_list<QWidget*>{date_kind_, date_from_, date_to_, size_compare_}) {
        TakeWheelOnlyWhenFocused(control);
    }
}

void DateSizePanels::ReadInto(SearchFields& fields) const {
    fields.size_option = size_options_->checkedId();
    fields.size_at_least = size_compare_->currentIndex() == 0;
    fields.size_text = size_text_->text().toStdString();
    fields.date_option = date_options_->checkedId();
    fields.date_kind = date_kind_->currentIndex();
    fields.date_from = FromQDateTime(date_from_->dateTime());
    fields.date_to = FromQDateTime(date_to_->dateTime());
}

void DateSizePanels::Show(const SearchFields& fields) {
    if (QAbstractButton* size = size_options_->button(fields.size_option)) {
        size->click();
    }
    size_compare_->setCurrentIndex(fields.size_at_least ? 0 : 1);
    size_text_->setText(QString::fromStdString(fields.size_text));
    if (QAbstractButton* date = date_options_->button(fields.date_option)) {
        date->click();
    }
    date_kind_->setCurrentIndex(fields.date_kind);
    if (fields.date_from != 0) {
        date_from_->setDateTime(ToQDateTime(fields.date_from));
    }
    if (fields.date_to != 0) {
        date_to_->setDateTime(ToQDateTime(fields.date_to));
    }
}

int DateSizePanels::DateOption() const {
    return date_options_->checkedId();
}

int DateSizePanels::SizeOption() const {
    return size_options_->checkedId();
}

}  // namespace ferret
