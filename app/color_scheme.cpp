#include "app/color_scheme.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QToolTip>
#include <utility>

namespace ferret {

bool IsDarkScheme(ColorSchemeChoice choice, DesktopColorScheme desktop) {
    switch (choice) {
        case ColorSchemeChoice::kLight:
            return false;
        case ColorSchemeChoice::kDark:
            return true;
        case ColorSchemeChoice::kDesktop:
            break;
    }
    return desktop == DesktopColorScheme::kDark;
}

QPalette DarkPalette() {
    const QColor window(53, 53, 53);
    const QColor base(35, 35, 35);
    const QColor text(230, 230, 230);
    const QColor disabled_text(127, 127, 127);
    const QColor highlight(42, 110, 190);
    QPalette palette;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::AlternateBase, QColor(45, 45, 45));
        palette.setColor(group, QPalette::ToolTipBase, QColor(25, 25, 25));
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::PlaceholderText, QColor(150, 150, 150));
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, window);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::BrightText, QColor(255, 90, 90));
        palette.setColor(group, QPalette::Highlight, highlight);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, QColor(110, 170, 255));
        palette.setColor(group, QPalette::LinkVisited, QColor(190, 150, 255));
    }
    palette.setColor(QPalette::Disabled, QPalette::Window, window);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled_text);
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    palette.setColor(QPalette::Disabled, QPalette::AlternateBase, window);
    palette.setColor(QPalette::Disabled, QPalette::ToolTipBase, QColor(25, 25, 25));
    palette.setColor(QPalette::Disabled, QPalette::ToolTipText, disabled_text);
    palette.setColor(QPalette::Disabled, QPalette::PlaceholderText, QColor(100, 100, 100));
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled_text);
    palette.setColor(QPalette::Disabled, QPalette::Button, window);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled_text);
    palette.setColor(QPalette::Disabled, QPalette::BrightText, QColor(160, 80, 80));
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 80));
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, disabled_text);
    palette.setColor(QPalette::Disabled, QPalette::Link, QColor(80, 110, 150));
    palette.setColor(QPalette::Disabled, QPalette::LinkVisited, QColor(120, 100, 150));
    // The shades frames and bevels are drawn in.
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Light, QColor(80, 80, 80));
        palette.setColor(group, QPalette::Midlight, QColor(66, 66, 66));
        palette.setColor(group, QPalette::Mid, QColor(42, 42, 42));
        palette.setColor(group, QPalette::Dark, QColor(30, 30, 30));
        palette.setColor(group, QPalette::Shadow, QColor(12, 12, 12));
    }
    return palette;
}

ColorScheme::ColorScheme(QDBusConnection bus, int timeout_ms)
    : portal_(std::move(bus), timeout_ms),
      light_style_(QApplication::style()->name()),
      light_palette_(QApplication::palette()),
      light_tool_tip_palette_(QToolTip::palette()) {
    portal_.Watch([this](DesktopColorScheme desktop) { DesktopChanged(desktop); });
    Reload();
}

ColorScheme::~ColorScheme() {
    portal_.Watch(nullptr);
    if (dark_) {
        choice_ = ColorSchemeChoice::kLight;
        Apply();
    }
}

void ColorScheme::Reload() {
    choice_ = ReadAppSettings().color_scheme;
    if (choice_ == ColorSchemeChoice::kDesktop && !desktop_) {
        desktop_ = portal_.Read();
    }
    Apply();
}

void ColorScheme::DesktopChanged(DesktopColorScheme desktop) {
    desktop_ = desktop;
    Apply();
}

void ColorScheme::Apply() {
    const bool dark = IsDarkScheme(choice_, desktop_.value_or(DesktopColorScheme::kNoPreference));
    if (dark == dark_) {
        return;
    }
    dark_ = dark;
    if (dark) {
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(DarkPalette());
        QToolTip::setPalette(DarkPalette());
    } else {
        if (QStyle* style = QStyleFactory::create(light_style_)) {
            QApplication::setStyle(style);
        }
        QApplication::setPalette(light_palette_);
        QToolTip::setPalette(light_tool_tip_palette_);
    }
}

}  // namespace ferret
