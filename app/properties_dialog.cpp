#include "app/properties_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "app/message_boxes.h"
#include "app/qt_text.h"
#include "util/app_locale.h"
#include "util/file_info.h"

namespace ferret {

namespace {

// "146.5 KB (150,016 bytes)"; small sizes are already given in bytes.
std::string SizeText(const std::string& formatted, std::uint64_t bytes) {
    if (bytes < 1024) {
        return formatted;
    }
    return formatted + " (" + FormatNumber(static_cast<double>(bytes), 0, true) + " bytes)";
}

// The folder without its trailing "/", except for the root itself.
std::string FolderText(std::string location) {
    if (location.size() > 1 && location.back() == '/') {
        location.pop_back();
    }
    return location;
}

}  // namespace

PropertiesDialog::PropertiesDialog(const std::string& path, QWidget* parent) : QDialog(parent) {
    FileInfo info;
    loaded_ = info.SetFilePath(path);
    const std::string name = loaded_ ? info.Name() : FileInfo::FileNameOf(path);
    setWindowTitle(Q(name) + QStringLiteral(" Properties"));

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignLeft);
    AddLine(form, QStringLiteral("Name:"), name);
    if (loaded_) {
        if (!info.IconName().empty()) {
            setWindowIcon(QIcon::fromTheme(Q(info.IconName())));
        }
        AddSeparator(form);
        AddLine(form, QStringLiteral("Type:"), info.Type());
        AddLine(form, QStringLiteral("Location:"), FolderText(info.Location()));
        AddLine(form, QStringLiteral("Size:"), SizeText(info.SizeText(), info.Size()));
        if (info.Compressed()) {
            AddLine(form, QStringLiteral("Compressed size:"),
                    SizeText(info.CompressedSizeText(), info.CompressedSize()));
        }
        AddSeparator(form);
        AddLine(form, QStringLiteral("Created:"), info.CreatedText());
        AddLine(form, QStringLiteral("Modified:"), info.ModifiedText());
        AddLine(form, QStringLiteral("Accessed:"), info.AccessedText());
        AddSeparator(form);
        auto* attributes = new QWidget;
        auto* boxes = new QHBoxLayout(attributes);
        boxes->setContentsMargins(0, 0, 0, 0);
        for (const auto& [text, on] : {std::pair{QStringLiteral("Read-only"), info.ReadOnly()},
                                       std::pair{QStringLiteral("Hidden"), info.Hidden()}}) {
            auto* box = new QCheckBox(text);
            box->setChecked(on);
            box->setEnabled(false);
            boxes->addWidget(box);
        }
        boxes->addStretch();
        form->addRow(QStringLiteral("Attributes:"), attributes);
        AddVersion(form, info);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

void PropertiesDialog::AddLine(QFormLayout* form, const QString& label, const std::string& value) {
    auto* text = new QLabel(Q(value));
    text->setTextFormat(Qt::PlainText);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, text);
}

void PropertiesDialog::AddSeparator(QFormLayout* form) {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    form->addRow(line);
}

void PropertiesDialog::AddVersion(QFormLayout* form, const FileInfo& info) {
    const std::pair<const char*, const std::string*> lines[] = {
        {"File version:", &info.Version()},       {"Description:", &info.Description()},
        {"Product name:", &info.ProductName()},   {"Product version:", &info.ProductVersion()},
        {"Company:", &info.CompanyName()},        {"Copyright:", &info.Copyright()},
        {"Trademarks:", &info.LegalTrademark()},  {"Original file name:", &info.OriginalFileName()},
        {"Internal name:", &info.InternalName()}, {"Language:", &info.Language()},
    };
    bool any = false;
    for (const auto& [label, value] : lines) {
        any = any || !value->empty();
    }
    if (!any) {
        return;
    }
    AddSeparator(form);
    for (const auto& [label, value] : lines) {
        if (!value->empty()) {
            AddLine(form, QString::fromLatin1(label), *value);
        }
    }
    AddLine(form, QStringLiteral("Target system:"), info.TargetSystem());
}

QString PropertiesDialog::FieldText(const QString& label) const {
    for (const QCheckBox* box : findChildren<QCheckBox*>()) {
        if (box->text() == label) {
            return box->isChecked() ? QStringLiteral("checked") : QStringLiteral("unchecked");
        }
    }
    const auto* form = findChild<QFormLayout*>();
    for (int row = 0; form != nullptr && row < form->rowCount(); ++row) {
        const QLayoutItem* name = form->itemAt(row, QFormLayout::LabelRole);
        const QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
        const auto* name_label = name != nullptr ? qobject_cast<QLabel*>(name->widget()) : nullptr;
        const auto* field_label =
            field != nullptr ? qobject_cast<QLabel*>(field->widget()) : nullptr;
        if (name_label != nullptr && field_label != nullptr && name_label->text() == label) {
            return field_label->text();
        }
    }
    return {};
}

PropertiesDialog* ShowProperties(const std::string& path, QWidget* parent) {
    auto* dialog = new PropertiesDialog(path, parent);
    if (!dialog->Loaded()) {
        delete dialog;
        OpenMessageBox(parent, FileInfo::NotFoundMessage(path));
        return nullptr;
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

}  // namespace ferret
