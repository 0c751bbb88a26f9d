#pragma once

#include <QDBusConnection>
#include <QPalette>
#include <QString>
#include <optional>

#include "app/color_scheme_portal.h"
#include "settings/app_settings.h"

namespace ferret {

// Whether the window is dark when the user chose `choice` and the desktop prefers `desktop`: a
// choice of light or dark holds whatever the desktop says; following the desktop, only its
// preference for dark makes it dark.
bool IsDarkScheme(ColorSchemeChoice choice, DesktopColorScheme desktop);

// The dark look's palette, every role of every group set: light text on dark grey, with a
// highlight and links that stand out on it.
QPalette DarkPalette();

// The application's colours. Light is the style and palette the application had when this was
// made, untouched; dark is the Fusion style with DarkPalette() (this Qt cannot ask the platform
// for a dark palette). Which one is the stored "ColorScheme" choice's (AppSettings), or the
// desktop's preference read from the portal when the choice follows the desktop; changes the
// portal announces are followed while this lives.
//
// Make one, after the QApplication and before the windows, on the window's thread. The
// palette set reaches every widget that has no palette of its own. When it goes, the look it
// found comes back.
class ColorScheme {
  public:
    // Applies the stored choice at once; when it follows the desktop the portal on `bus` is
    // asked first, waiting at most `timeout_ms` (see ColorSchemePortal).
    explicit ColorScheme(QDBusConnection bus,
                         int timeout_ms = ColorSchemePortal::kDefaultTimeoutMs);
    ~ColorScheme();
    ColorScheme(const ColorScheme&) = delete;
    ColorScheme& operator=(const ColorScheme&) = delete;

    // Reads the stored choice again and applies it (after the options dialog saved it).
    void Reload();

    bool Dark() const { return dark_; }

  private:
    void DesktopChanged(DesktopColorScheme desktop);
    void Apply();

    ColorSchemePortal portal_;
    ColorSchemeChoice choice_ = ColorSchemeChoice::kDesktop;
    // The desktop's preference once it is needed: asked when the choice first follows it.
    std::optional<DesktopColorScheme> desktop_;
    bool dark_ = false;
    // The look found, for light.
    QString light_style_;
    QPalette light_palette_;
    QPalette light_tool_tip_palette_;
};

}  // namespace ferret
