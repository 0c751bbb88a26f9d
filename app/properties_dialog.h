#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QFormLayout;

namespace ferret {

class FileInfo;

// The "Properties" window of one result file: what FileInfo reads of it (name, location, type,
// sizes, times, attributes and, for Windows executables, the version resource), read once when
// the window is made. It only shows; nothing in it changes the file.
class PropertiesDialog : public QDialog {
  public:
    // Reads `path` without telling the user when it cannot be read; Loaded() then says false
    // and the window shows the name alone.
    explicit PropertiesDialog(const std::string& path, QWidget* parent = nullptr);

    bool Loaded() const { return loaded_; }
    // The text shown beside `label` ("Size:"), or an empty text when the window has no such
    // line. The attribute boxes answer to their own texts ("Read-only", "Hidden") with "checked"
    // or "unchecked".
    QString FieldText(const QString& label) const;

  private:
    void AddLine(QFormLayout* form, const QString& label, const std::string& value);
    void AddSeparator(QFormLayout* form);
    void AddVersion(QFormLayout* form, const FileInfo& info);

    bool loaded_ = false;
};

// Opens a Properties window for `path` that goes away when closed, and returns it; nullptr after
// the not-found message when the file cannot be read.
PropertiesDialog* ShowProperties(const std::string& path, QWidget* parent);

}  // namespace ferret
