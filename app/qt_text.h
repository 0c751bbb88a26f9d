#pragma once

#include <QString>
#include <string>

namespace ferret {

// The engine and the settings speak UTF-8 std::string, the widgets QString.
inline QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
inline std::string S(const QString& text) {
    return text.toStdString();
}

}  // namespace ferret
