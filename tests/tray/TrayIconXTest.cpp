// The tray icon on a real X server: docking into trayer, the picture on
// screen, the right-button menu, and coming back after the tray restarts.
// Runs under xvfb-run; screenshots are kept in ORU_TEST_ARTIFACTS_DIR.
#include "TrayTestSupport.h"

#include "qtui/TextTrayIcon.h"
#include "qtui/TrayIcon1Config.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace oru {
namespace {

using test::trayTestApp;
using test::waitUntil;

constexpr int kDockTimeoutMs = 10000;
constexpr int kToolTimeoutMs = 10000;

QString artifactPath(const QString& name)
{
    QDir().mkpath(QStringLiteral(ORU_TEST_ARTIFACTS_DIR));
    return QStringLiteral(ORU_TEST_ARTIFACTS_DIR "/") + name;
}

/// Runs a command-line tool to its end while the event loop goes on (the
/// tools talk to the same X server this process serves). Returns its exit code.
int runTool(const QString& program, const QStringList& args)
{
    QProcess tool;
    tool.start(program, args);
    if (!tool.waitForStarted(kToolTimeoutMs))
        return -1;
    if (!waitUntil([&] { return tool.state() == QProcess::NotRunning; }, kToolTimeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        return -1;
    }
    return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}

/// A stand-alone tray (trayer) in the top right corner; stopped with the object.
class TrayHost {
public:
    ~TrayHost() { stop(); }

    bool start()
    {
        process_ = std::make_unique<QProcess>();
        process_->start(QStringLiteral("trayer"),
                        {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                         "--transparent", "false"});
        return process_->waitForStarted(kToolTimeoutMs)
               && waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, kDockTimeoutMs);
    }

    bool stop()
    {
        if (!process_)
            return true;
        process_->terminate();
        if (!process_->waitForFinished(3000)) {
            process_->kill();
            process_->waitForFinished(3000);
        }
        process_.reset();
        return waitUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, kDockTimeoutMs);
    }

private:
    std::unique_ptr<QProcess> process_;
};

/// Where the expected 16 x 16 image appears in a picture, if it does.
std::optional<QPoint> findImage(const QImage& picture, const QImage& expected)
{
    const QImage screen = picture.convertToFormat(QImage::Format_RGB32);
    const QImage wanted = expected.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y + wanted.height() <= screen.height(); ++y) {
        for (int x = 0; x + wanted.width() <= screen.width(); ++x) {
            bool same = true;
            for (int j = 0; same && j < wanted.height(); ++j) {
                const auto* a = reinterpret_cast<const QRgb*>(screen.constScanLine(y + j)) + x;
                const auto* b = reinterpret_cast<const QRgb*>(wanted.constScanLine(j));
                for (int i = 0; same && i < wanted.width(); ++i)
                    same = a[i] == b[i];
            }
            if (same)
                return QPoint(x, y);
        }
    }
    return std::nullopt;
}

/// Takes one screenshot of the root window and looks for the image in it. The
/// screenshot, and a magnified crop around the image when found, are kept as
/// artifacts.
std::optional<QPoint> findOnScreen(const QImage& expected, const QString& artifactName)
{
    const QString path = artifactPath(artifactName + QStringLiteral(".png"));
    if (runTool(QStringLiteral("import"), {"-window", "root", path}) != 0)
        return std::nullopt;
    const QImage screenshot(path);
    const std::optional<QPoint> found = findImage(screenshot, expected);
    if (found) {
        const QRect around(found->x() - 12, found->y() - 4, 40, 24);
        screenshot.copy(around).scaled(around.size() * 10).save(
            artifactPath(artifactName + QStringLiteral("-zoom.png")));
    }
    return found;
}

/// Counts mouse button releases anywhere in the application.
class ReleaseCounter : public QObject {
public:
    explicit ReleaseCounter(Qt::MouseButton button) : button_(button) { qApp->installEventFilter(this); }
    ~ReleaseCounter() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Each release reaches the QWindow and then its widget; count it once.
        if (event->type() == QEvent::MouseButtonRelease && watched->isWidgetType()
            && static_cast<QMouseEvent*>(event)->button() == button_)
            ++count;
        return false;
    }

private:
    Qt::MouseButton button_;
};

class TrayIconOnX : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "needs an X server (run under xvfb-run)";
        ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "another tray runs on this display";
        menuItems = createPopupMenu1(&owner);
        QObject::connect(menuItems.PopupMenu1, &QMenu::aboutToShow, [this] { ++menuOpenings; });
    }

    void showIcon()
    {
        trayIcon = std::make_unique<TTextTrayIcon>(&owner);
        configureTrayIcon1(*trayIcon, menuItems.PopupMenu1);
    }

    /// Waits until the tray shows the icon's current image where Qt says the
    /// icon is docked. Qt reports a geometry at the origin before the tray has
    /// taken the icon in, so the geometry alone doesn't tell.
    bool waitDocked(const QString& artifactName)
    {
        return waitUntil(
            [&] {
                dockedAt = findOnScreen(trayIcon->IconImage(), artifactName);
                return dockedAt && trayIcon->geometry().contains(QRect(*dockedAt, QSize(16, 16)));
            },
            kDockTimeoutMs);
    }

    QPoint iconCentre() const { return trayIcon->geometry().center(); }

    /// Drives the pointer. A press within the double-click interval of the
    /// previous one (even in an earlier test) would reach the icon as a double
    /// click, which opens nothing, so a new press first lets the interval pass.
    static int xdotool(const QStringList& args)
    {
        static QElapsedTimer sinceLastPress;
        const bool presses = args.contains("click") || args.contains("mousedown");
        if (presses && sinceLastPress.isValid()) {
            const int intervalMs = QApplication::doubleClickInterval() + 50;
            waitUntil([&] { return sinceLastPress.elapsed() > intervalMs; }, intervalMs + 1000);
        }
        const int result = runTool(QStringLiteral("xdotool"), args);
        if (presses)
            sinceLastPress.start();
        return result;
    }

    QApplication& app = trayTestApp();
    QWidget owner;
    PopupMenu1Items menuItems;
    std::unique_ptr<TTextTrayIcon> trayIcon;
    TrayHost host;
    int menuOpenings = 0;
    std::optional<QPoint> dockedAt; ///< where waitDocked() found the icon on screen
};

TEST_F(TrayIconOnX, WaitsForATrayAndDocksWhenOneStarts)
{
    ::testing::internal::CaptureStderr();
    showIcon();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no system tray"), std::string::npos) << err;
    EXPECT_TRUE(trayIcon->geometry().isEmpty());

    ASSERT_TRUE(host.start());
    ASSERT_TRUE(waitDocked("tray-red")) << "the red 'oru' square is not in the tray";
    const QPoint red = *dockedAt;

    // A status change reaches the screen.
    trayIcon->setColor(clGreen);
    trayIcon->Font().setColor(clWhite);
    ASSERT_TRUE(waitDocked("tray-green")) << "the green square is not in the tray";
    EXPECT_EQ(*dockedAt, red);
}

TEST_F(TrayIconOnX, RightPressOpensTheMenuOnceAndTheReleaseLeavesItOpen)
{
    ASSERT_TRUE(host.start());
    showIcon();
    ASSERT_TRUE(waitDocked("tray-docked"));
    ReleaseCounter releases(Qt::RightButton);
    const QPoint at = iconCentre();
    QMenu* menu = menuItems.PopupMenu1;
    ASSERT_EQ(xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "mousedown", "3"}), 0);
    ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }, kDockTimeoutMs)) << "no menu on the press";
    EXPECT_EQ(releases.count, 0) << "opened before the button came up";
    EXPECT_EQ(menuOpenings, 1);

    ASSERT_EQ(xdotool({"mouseup", "3"}), 0);
    ASSERT_TRUE(waitUntil([&] { return releases.count > 0; }, kDockTimeoutMs));
    EXPECT_TRUE(menu->isVisible()) << "the release closed the menu or chose an item";
    EXPECT_EQ(menuOpenings, 1) << "the release opened it again";
    EXPECT_EQ(QApplication::activePopupWidget(), menu);

    // At the cursor: the menu's top edge is the cursor's row, and it reaches
    // the cursor's column (Qt moves it left to stay on the screen).
    EXPECT_EQ(menu->geometry().top(), at.y());
    EXPECT_LE(menu->geometry().left(), at.x());

    QStringList captions;
    for (QAction* action : menu->actions())
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(captions, QStringList({"Kalibre", "Tahta ekranı", "Hakkında", "-", "Çıkış"}));

    ASSERT_EQ(runTool(QStringLiteral("import"), {"-window", "root", artifactPath("tray-menu.png")}), 0);
    menu->close();
}

TEST_F(TrayIconOnX, ChoosingAnEntryRunsItsAction)
{
    ASSERT_TRUE(host.start());
    showIcon();
    ASSERT_TRUE(waitDocked("tray-docked"));
    int calibrations = 0;
    QObject::connect(menuItems.Kalibre1, &QAction::triggered, [&] { ++calibrations; });
    const QPoint at = iconCentre();
    QMenu* menu = menuItems.PopupMenu1;

    ASSERT_EQ(xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "3"}), 0);
    ASSERT_TRUE(waitUntil([&] { return menu->isVisible(); }, kDockTimeoutMs));
    const QPoint item = menu->mapToGlobal(menu->actionGeometry(menuItems.Kalibre1).center());
    ASSERT_EQ(xdotool({"mousemove", QString::number(item.x()), QString::number(item.y()), "click", "1"}), 0);
    ASSERT_TRUE(waitUntil([&] { return calibrations == 1; }, kDockTimeoutMs));
    EXPECT_TRUE(waitUntil([&] { return !menu->isVisible(); }, kDockTimeoutMs));
}

TEST_F(TrayIconOnX, LeftClicksDoubleClicksAndADisabledIconOpenNothing)
{
    ASSERT_TRUE(host.start());
    showIcon();
    ASSERT_TRUE(waitDocked("tray-docked"));
    ReleaseCounter leftReleases(Qt::LeftButton);
    ReleaseCounter rightReleases(Qt::RightButton);
    const QPoint at = iconCentre();
    const auto openWidgets = [] {
        int visible = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            visible += w->isVisible() && w->objectName() != "QSystemTrayIconSys" ? 1 : 0;
        return visible;
    };

    ASSERT_EQ(xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1", "click",
                       "--repeat", "2", "--delay", "80", "1"}),
              0);
    ASSERT_TRUE(waitUntil([&] { return leftReleases.count >= 3; }, kDockTimeoutMs));

    trayIcon->setEnabled(false);
    ASSERT_EQ(xdotool({"click", "3"}), 0);
    ASSERT_TRUE(waitUntil([&] { return rightReleases.count >= 1; }, kDockTimeoutMs));
    EXPECT_EQ(menuOpenings, 0);
    EXPECT_EQ(openWidgets(), 0);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // Enabled again, the same press opens the menu: the clicks above did arrive.
    trayIcon->setEnabled(true);
    ASSERT_EQ(xdotool({"click", "3"}), 0);
    EXPECT_TRUE(waitUntil([&] { return menuItems.PopupMenu1->isVisible(); }, kDockTimeoutMs));
    EXPECT_EQ(menuOpenings, 1);
    menuItems.PopupMenu1->close();
}

TEST_F(TrayIconOnX, ComesBackWithItsCurrentColourAfterTheTrayRestarts)
{
    ASSERT_TRUE(host.start());
    showIcon();
    ASSERT_TRUE(waitDocked("tray-before-restart"));

    ASSERT_TRUE(host.stop());
    ASSERT_TRUE(waitUntil([this] { return trayIcon->geometry().isEmpty(); }, kDockTimeoutMs));
    // The status changes while no tray runs.
    trayIcon->setColor(clBlue);
    trayIcon->Font().setColor(clWhite);

    ASSERT_TRUE(host.start());
    EXPECT_TRUE(waitDocked("tray-after-restart")) << "the blue square did not come back";
}

} // namespace
} // namespace oru
