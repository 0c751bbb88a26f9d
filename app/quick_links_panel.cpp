#include "app/quick_links_panel.h"

#include <QLayout>
#include <QStyle>
#include <QToolButton>

#include "app/explorer_bar.h"
#include "app/folder_box.h"
#include "app/qt_text.h"
#include "util/app_paths.h"
#include "util/user_folders.h"

namespace ferret {

QuickLinksPanel::QuickLinksPanel(ExplorerBar& bar, QObject* owner) : QObject(owner) {
    QWidget* links = bar.AddPanel(QStringLiteral("Quick Links"), QStringLiteral("&Quick Links"));
    struct Link {
        const char* key;
        const char* text;
        const char* icon;
        QStyle::StandardPixmap fallback;
    };
    const Link items[] = {
        {"MyDocuments", "My Documents", "folder-documents", QStyle::SP_DirHomeIcon},
        {"MyPictures", "My Pictures", "folder-pictures", QStyle::SP_DirIcon},
        {"Desktop", "Desktop", "user-desktop", QStyle::SP_DesktopIcon},
        {"Programs", "Programs", "applications-system", QStyle::SP_ComputerIcon},
    };
    for (const Link& item : items) {
        auto* button = new QToolButton;
        button->setObjectName(QString::fromLatin1(item.key));
        button->setText(QString::fromLatin1(item.text));
        button->setIcon(QIcon::fromTheme(QString::fromLatin1(item.icon),
                                         bar.style()->standardIcon(item.fallback)));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        button->setCursor(Qt::PointingHandCursor);
        const QString key = QString::fromLatin1(item.key);
        connect(button, &QToolButton::clicked, this, [this, key] {
            if (on_open) {
                on_open(key);
            }
        });
        links->layout()->addWidget(button);
    }
}

QString QuickLinksPanel::FolderOf(const QString& key) {
    UserFolder folder = UserFolder::kDocuments;
    if (key == QLatin1String("MyDocuments")) {
        folder = UserFolder::kDocuments;
    } else if (key == QLatin1String("Desktop")) {
        folder = UserFolder::kDesktop;
    } else if (key == QLatin1String("MyPictures")) {
        folder = UserFolder::kPictures;
    } else if (key == QLatin1String("Programs")) {
        folder = UserFolder::kPrograms;
    } else {
        return QString();
    }
    QString path = QString::fromStdString(UserFolderPath(folder));
    if (!IsFolder(S(path)) && folder != UserFolder::kPrograms) {
        path = QString::fromStdString(HomeFolder());
    }
    return path;
}

}  // namespace ferret
