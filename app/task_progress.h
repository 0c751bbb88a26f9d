#pragma once

#include <QString>

namespace ferret {

// A run's progress on the program's entry in the task bar or dock, where the desktop shows it:
// the launcher-entry signal on the session bus that KDE Plasma, Dash to Dock, Plank and others
// read. Without a session bus nothing happens.
class TaskProgress {
  public:
    // `desktop_id`: the program's desktop file ("org.mallo.Ferret.desktop").
    explicit TaskProgress(QString desktop_id);
    // `fraction` of the work done, 0 to 1.
    void Show(double fraction);
    void Hide();

  private:
    void Send(double fraction, bool visible);

    const QString uri_;
    int shown_ = -1;  // the last thousandth sent, -1 when hidden
};

}  // namespace ferret
