#include "app/color_scheme.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QPalette>
#include <QStyle>
#include <QThread>
#include <QToolTip>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/color_scheme_portal.h"
#include "app/main_window.h"
#include "app/session_bus.h"
#include "settings/app_settings.h"
#include "settings/settings.h"
#include "testsupport/private_bus.h"
#include "testsupport/qt_wait.h"

namespace ferret {
namespace {

using testing::WaitUntil;

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");

// How a stand-in portal answers.
enum class Answers {
    kReadOne,   // ReadOne and Read, as portals do now
    kReadOnly,  // only Read, its value in a variant in a variant, as older portals
    kNever,     // takes the calls and never answers
};

// The desktop portal's Settings interface as far as the colour scheme goes, on a thread of its
// own: the client's calls block the window's thread, as they do at start-up.
class StandInPortal : public QDBusVirtualObject {
  public:
    StandInPortal(unsigned scheme, Answers answers) : scheme_(scheme), answers_(answers) {}

    QString introspect(const QString& /*path*/) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.portal.Settings\">"
            "<method name=\"ReadOne\"><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"s\" direction=\"in\"/><arg type=\"v\" direction=\"out\"/></method>"
            "<method name=\"Read\"><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"s\" direction=\"in\"/><arg type=\"v\" direction=\"out\"/></method>"
            "<signal name=\"SettingChanged\"><arg type=\"s\"/><arg type=\"s\"/>"
            "<arg type=\"v\"/></signal></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != kSettingsInterface) {
            return false;
        }
        ++calls_;
        const QList<QVariant> arguments = message.arguments();
        const bool asks = arguments.size() == 2 &&
                          arguments[0].toString() == QStringLiteral("org.freedesktop.appearance") &&
                          arguments[1].toString() == QStringLiteral("color-scheme");
        if (answers_ == Answers::kNever) {
            return true;
        }
        if (!asks) {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("no")));
            return true;
        }
        const QVariant value = QVariant::fromValue(scheme_.load());
        if (message.member() == QStringLiteral("ReadOne") && answers_ == Answers::kReadOne) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        } else if (message.member() == QStringLiteral("Read")) {
            const QVariant wrapped = QVariant::fromValue(QDBusVariant(value));
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(wrapped))));
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod,
                                                     QStringLiteral("No such method")));
        }
        return true;
    }

    int Calls() const { return calls_.load(); }

  private:
    std::atomic<unsigned> scheme_;
    const Answers answers_;
    std::atomic<int> calls_{0};
};

// Each test gets a bus of its own, the look the application started with, and the setting's
// default; whatever a test changes of them is put back.
class ColorSchemeTest : public ::testing::Test {
  protected:
    static constexpr int kTimeoutMs = 250;

    void SetUp() override {
        ASSERT_FALSE(bus_.address().empty()) << "dbus-daemon could not be started";
        Choose("0");
        default_style_ = QApplication::style()->name();
        default_palette_ = QApplication::palette();
    }
    void TearDown() override {
        colors_.reset();
        Choose("0");
        if (portal_ != nullptr) {
            portal_bus_.unregisterObject(kPortalPath);
            portal_bus_.unregisterService(kPortalService);
            thread_.quit();
            thread_.wait();
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("ferret-test-portal"));
        QDBusConnection::disconnectFromBus(QStringLiteral("ferret-test-client"));
        EXPECT_EQ(QApplication::style()->name(), default_style_) << "the look came back";
        EXPECT_EQ(QApplication::palette(), default_palette_);
    }

    static void Choose(const char* code) {
        ASSERT_TRUE(SaveSettingValue(kSettingsKey, kColorScheme, code).ok());
    }

    // A stand-in portal on the test's bus that says `scheme`.
    void StartPortal(unsigned scheme, Answers answers = Answers::kReadOne) {
        portal_bus_ = QDBusConnection::connectToBus(QString::fromStdString(bus_.address()),
                                                    QStringLiteral("ferret-test-portal"));
        ASSERT_TRUE(portal_bus_.isConnected());
        portal_ = std::make_unique<StandInPortal>(scheme, answers);
        thread_.start();
        portal_->moveToThread(&thread_);
        ASSERT_TRUE(portal_bus_.registerVirtualObject(kPortalPath, portal_.get()));
        ASSERT_TRUE(portal_bus_.registerService(kPortalService));
    }

    // What the portal announces when the desktop's scheme changes.
    void Announce(const QString& name_space, const QString& key, unsigned scheme) {
        QDBusMessage signal = QDBusMessage::createSignal(kPortalPath, kSettingsInterface,
                                                         QStringLiteral("SettingChanged"));
        signal << name_space << key << QVariant::fromValue(QDBusVariant(QVariant(scheme)));
        ASSERT_TRUE(portal_bus_.send(signal));
    }

    // The application's client of the test's bus.
    QDBusConnection ClientBus() const {
        return QDBusConnection::connectToBus(QString::fromStdString(bus_.address()),
                                             QStringLiteral("ferret-test-client"));
    }

    void Follow() { colors_ = std::make_unique<ColorScheme>(ClientBus(), kTimeoutMs); }

    // Dark: a dark window with light text, in the Fusion style.
    static bool LooksDark() {
        const QPalette palette = QApplication::palette();
        return palette.color(QPalette::Window).lightness() < 80 &&
               palette.color(QPalette::Base).lightness() < 80 &&
               palette.color(QPalette::WindowText).lightness() > 180 &&
               palette.color(QPalette::Text).lightness() > 180 &&
               QApplication::style()->name().compare(QStringLiteral("fusion"),
                                                     Qt::CaseInsensitive) == 0;
    }
    bool LooksAsItStarted() const {
        return QApplication::palette() == default_palette_ &&
               QApplication::style()->name() == default_style_;
    }

    testing::PrivateBus bus_;
    QDBusConnection portal_bus_{QStringLiteral("ferret-test-portal")};
    std::unique_ptr<StandInPortal> portal_;
    QThread thread_;
    std::unique_ptr<ColorScheme> colors_;
    QString default_style_;
    QPalette default_palette_;
};

TEST_F(ColorSchemeTest, ADesktopThatPrefersDarkMakesTheApplicationDark) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(1));
    Follow();
    EXPECT_TRUE(colors_->Dark());
    EXPECT_TRUE(LooksDark());
    EXPECT_EQ(portal_->Calls(), 1);
    // Windows opened afterwards have it, tool tips too.
    MainWindow window;
    EXPECT_LT(window.palette().color(QPalette::Window).lightness(), 80);
    EXPECT_GT(window.palette().color(QPalette::WindowText).lightness(), 180);
    EXPECT_LT(QToolTip::palette().color(QPalette::ToolTipBase).lightness(), 80);
    EXPECT_GT(QToolTip::palette().color(QPalette::ToolTipText).lightness(), 180);
}

TEST_F(ColorSchemeTest, ADesktopThatPrefersLightLeavesTheLookAsItWas) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(2));
    Follow();
    EXPECT_EQ(portal_->Calls(), 1);
    EXPECT_FALSE(colors_->Dark());
    EXPECT_TRUE(LooksAsItStarted());
}

TEST_F(ColorSchemeTest, NoPreferenceLeavesTheLookAsItWas) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(0));
    Follow();
    EXPECT_FALSE(colors_->Dark());
    EXPECT_TRUE(LooksAsItStarted());
}

TEST_F(ColorSchemeTest, AnOlderPortalIsReadThroughRead) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(1, Answers::kReadOnly));
    Follow();
    EXPECT_EQ(portal_->Calls(), 2);  // ReadOne, refused; then Read
    EXPECT_TRUE(LooksDark());
}

TEST_F(ColorSchemeTest, TheSettingOverridesThePortal) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(1));
    Choose("1");
    Follow();
    EXPECT_FALSE(colors_->Dark());
    EXPECT_TRUE(LooksAsItStarted());
    EXPECT_EQ(portal_->Calls(), 0) << "a fixed choice needs no portal";
    // Nor does the desktop's change move it.
    ASSERT_NO_FATAL_FAILURE(
        Announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), 1));
    QApplication::processEvents();
    EXPECT_TRUE(LooksAsItStarted());
    colors_.reset();

    // Dark is dark on a desktop that prefers light.
    Choose("2");
    Follow();
    EXPECT_TRUE(colors_->Dark());
    EXPECT_TRUE(LooksDark());
}

TEST_F(ColorSchemeTest, AChoiceSavedWhileRunningIsAppliedOnReload) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(2));
    Follow();
    EXPECT_FALSE(colors_->Dark());
    Choose("2");
    colors_->Reload();
    EXPECT_TRUE(LooksDark());
    Choose("0");
    colors_->Reload();
    EXPECT_TRUE(LooksAsItStarted());
    EXPECT_EQ(portal_->Calls(), 1) << "the desktop's preference is asked once, then followed";
}

TEST_F(ColorSchemeTest, WithoutAPortalTheLookIsTheDefault) {
    // A bus where nobody owns the portal's name.
    QElapsedTimer clock;
    clock.start();
    Follow();
    EXPECT_FALSE(colors_->Dark());
    EXPECT_TRUE(LooksAsItStarted());
    colors_.reset();
    // No bus at all: the tests' environment names none.
    ASSERT_FALSE(DesktopSessionBus().isConnected());
    colors_ = std::make_unique<ColorScheme>(DesktopSessionBus(), kTimeoutMs);
    EXPECT_FALSE(colors_->Dark());
    EXPECT_TRUE(LooksAsItStarted());
    EXPECT_LT(clock.elapsed(), kTimeoutMs) << "nothing waits for a portal that is not there";
}

TEST_F(ColorSchemeTest, APortalThatDoesNotAnswerHoldsStartUpOnlyForTheTimeout) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(1, Answers::kNever));
    QElapsedTimer clock;
    clock.start();
    Follow();
    const qint64 waited = clock.elapsed();
    EXPECT_FALSE(colors_->Dark());
    EXPECT_TRUE(LooksAsItStarted());
    EXPECT_GE(waited, kTimeoutMs - 50);
    EXPECT_LT(waited, 2 * kTimeoutMs) << "ReadOne and Read share one timeout";
}

TEST_F(ColorSchemeTest, TheDesktopsChangesAreFollowedWhileRunning) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(2));
    Follow();
    ASSERT_FALSE(colors_->Dark());
    ASSERT_NO_FATAL_FAILURE(
        Announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), 1));
    EXPECT_TRUE(WaitUntil([] { return LooksDark(); }, 5));
    EXPECT_TRUE(colors_->Dark());
    // Back to no preference: the look the application started with.
    ASSERT_NO_FATAL_FAILURE(
        Announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), 0));
    EXPECT_TRUE(WaitUntil([this] { return LooksAsItStarted(); }, 5));
    EXPECT_FALSE(colors_->Dark());
}

TEST_F(ColorSchemeTest, OnlyTheColorSchemeSettingIsTold) {
    ASSERT_NO_FATAL_FAILURE(StartPortal(2));
    ColorSchemePortal portal(ClientBus(), kTimeoutMs);
    std::vector<DesktopColorScheme> told;
    portal.Watch([&told](DesktopColorScheme scheme) { told.push_back(scheme); });
    // A call and its answer after the subscription: the bus has it before the signals go out.
    EXPECT_EQ(portal.Read(), DesktopColorScheme::kLight);
    ASSERT_NO_FATAL_FAILURE(
        Announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("accent-color"), 2));
    ASSERT_NO_FATAL_FAILURE(
        Announce(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("color-scheme"), 2));
    ASSERT_NO_FATAL_FAILURE(
        Announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), 1));
    // Signals arrive in the order they were sent: the others came first, if at all.
    EXPECT_TRUE(WaitUntil([&told] { return !told.empty(); }, 5));
    EXPECT_EQ(told, std::vector<DesktopColorScheme>{DesktopColorScheme::kDark});
    portal.Watch(nullptr);
    ASSERT_NO_FATAL_FAILURE(
        Announce(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), 2));
    EXPECT_EQ(portal.Read(), DesktopColorScheme::kLight);
    QApplication::processEvents();
    EXPECT_EQ(told.size(), 1u) << "not told once it stopped watching";
}

TEST(ColorSchemeValueTest, TheValueIsFoundInsideItsVariants) {
    const QVariant dark = QVariant::fromValue(1u);
    EXPECT_EQ(ColorSchemePortal::SchemeOf(dark), DesktopColorScheme::kDark);
    const QVariant once = QVariant::fromValue(QDBusVariant(QVariant::fromValue(2u)));
    EXPECT_EQ(ColorSchemePortal::SchemeOf(once), DesktopColorScheme::kLight);
    const QVariant twice = QVariant::fromValue(QDBusVariant(once));
    EXPECT_EQ(ColorSchemePortal::SchemeOf(twice), DesktopColorScheme::kLight);
    // What is no scheme is no preference.
    for (const QVariant& other : {QVariant::fromValue(3u), QVariant(QStringLiteral("dark")),
                                  QVariant(), QVariant::fromValue(QDBusVariant(QVariant(7)))}) {
        EXPECT_EQ(ColorSchemePortal::SchemeOf(other), DesktopColorScheme::kNoPreference);
    }
}

TEST(ColorSchemeValueTest, AChoiceOfItsOwnHoldsWhateverTheDesktopSays) {
    for (const DesktopColorScheme desktop :
         {DesktopColorScheme::kNoPreference, DesktopColorScheme::kDark,
          DesktopColorScheme::kLight}) {
        EXPECT_FALSE(IsDarkScheme(ColorSchemeChoice::kLight, desktop));
        EXPECT_TRUE(IsDarkScheme(ColorSchemeChoice::kDark, desktop));
    }
    EXPECT_TRUE(IsDarkScheme(ColorSchemeChoice::kDesktop, DesktopColorScheme::kDark));
    EXPECT_FALSE(IsDarkScheme(ColorSchemeChoice::kDesktop, DesktopColorScheme::kLight));
    EXPECT_FALSE(IsDarkScheme(ColorSchemeChoice::kDesktop, DesktopColorScheme::kNoPreference));
}

}  // namespace
}  // namespace ferret
