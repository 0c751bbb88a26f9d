#include "app/about_dialog.h"

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

#include "ferret_version.h"

namespace ferret {

void ShowAboutDialog(QWidget* owner) {
    QDialog about(owner);
    about.setWindowTitle(QStringLiteral("About Ferret"));
    auto* layout = new QVBoxLayout(&about);
    layout->addWidget(new QLabel(QStringLiteral("Ferret Version: %1.%2.0.%3")
                                     .arg(FERRET_VERSION_MAJOR)
                                     .arg(FERRET_VERSION_MINOR)
                                     .arg(FERRET_VERSION_PATCH)));
    // A line that has left the top comes back below the others.
    auto* credits = new QWidget;
    credits->setFixedSize(360, 90);
    const QStringList lines = {QStringLiteral("Ferret finds files and the text in them."),
                               QStringLiteral("Made by Mallo."),
                               QStringLiteral("Built with Qt and PCRE2."),
                               QStringLiteral("Thanks to everyone who reported a problem.")};
    std::vector<QLabel*> labels;
    for (int i = 0; i < lines.size(); ++i) {
        auto* label = new QLabel(lines[i], credits);
        label->setGeometry(0, 10 + i * 28, 360, 24);
        labels.push_back(label);
    }
    layout->addWidget(credits);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    layout->addWidget(ok);
    QObject::connect(ok, &QPushButton::clicked, &about, &QDialog::accept);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &about, [labels] {
        for (QLabel* label : labels) {
            int y = label->y() - 2;
            if (y + label->height() < 0) {
                y = static_cast<int>(labels.size()) * 28;
            }
            label->move(0, y);
        }
    });
    timer.start(50);
    about.exec();
}

}  // namespace ferret
