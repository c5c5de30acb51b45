// The desktop services over D-Bus, against stand-ins for the notification service and the file
// manager on the test program's private session bus.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <chrono>
#include <mutex>
#include <vector>

#include "app/ui/DesktopServices.h"
#include "tests/ui/PrivateSessionBus.h"
#include "tests/ui/TestApplication.h"

namespace zembra {
namespace {

struct TCall {
    QString Path, Interface, Member;
    QList<QVariant> Arguments;
};

// Answers every call made to its paths and keeps them. It lives on a thread of its own: the
// file manager is asked with a blocking call, which must be answered while the asking thread
// waits.
class TFakeDesktop : public QDBusVirtualObject {
  public:
    bool handleMessage(const QDBusMessage& Message, const QDBusConnection& Connection) override {
        {
            std::lock_guard<std::mutex> G(FLock);
            FCalls.push_back({Message.path(), Message.interface(), Message.member(), Message.arguments()});
        }
        if (Message.member() == "Notify")
            Connection.send(Message.createReply(QVariant::fromValue(7u)));
        else
            Connection.send(Message.createReply());
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    std::vector<TCall> Calls() const {
        std::lock_guard<std::mutex> G(FLock);
        return FCalls;
    }

  private:
    mutable std::mutex FLock;
    std::vector<TCall> FCalls;
};

// Where QDesktopServices::openUrl would start the desktop's handler.
class TUrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> Opened;
  public slots:
    void Open(const QUrl& Url) { Opened.push_back(Url); }
};

class DesktopServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::EnsureTestApplication();
        if (testing::StartPrivateSessionBus().empty()) GTEST_SKIP() << "dbus-daemon is not installed";
        Services = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fakeDesktop"));
        ASSERT_TRUE(Services->isConnected());
        Fake.moveToThread(&FakeThread);
        FakeThread.start();
        ASSERT_TRUE(Services->registerVirtualObject("/org/freedesktop/Notifications", &Fake));
        ASSERT_TRUE(Services->registerVirtualObject("/org/freedesktop/FileManager1", &Fake));
        ASSERT_TRUE(Services->registerService("org.freedesktop.Notifications"));
        ASSERT_TRUE(Services->registerService("org.freedesktop.FileManager1"));
        QDesktopServices::setUrlHandler("file", &Catcher, "Open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("file");
        if (Services) {
            Services->unregisterService("org.freedesktop.Notifications");
            Services->unregisterService("org.freedesktop.FileManager1");
            Services->unregisterObject("/org/freedesktop/Notifications");
            Services->unregisterObject("/org/freedesktop/FileManager1");
            Services.reset();
            QDBusConnection::disconnectFromBus("fakeDesktop");
        }
        FakeThread.quit();
        FakeThread.wait();
    }

    bool WaitForCalls(size_t Count) {
        for (int I = 0; I < 300 && Fake.Calls().size() < Count; ++I) QTest::qWait(10);
        return Fake.Calls().size() >= Count;
    }

    std::unique_ptr<QDBusConnection> Services;
    TFakeDesktop Fake;
    QThread FakeThread;
    TUrlCatcher Catcher;
};

// One notification as the freedesktop interface has it; the file manager shows the output
// selected, and with no file manager on the bus the folder is opened instead; a missing
// output opens its folder without asking the file manager.
TEST_F(DesktopServicesTest, NotifiesAndShowsTheOutputInTheFileManager) {
    QGuiApplication::setDesktopFileName("io.github.zembra.Zembra");
    ASSERT_TRUE(SendDesktopNotification("Zembra: 12 finished, 1 failed"));
    QGuiApplication::setDesktopFileName(QString());
    ASSERT_TRUE(WaitForCalls(1));
    TCall Note = Fake.Calls()[0];
    EXPECT_EQ(Note.Path, "/org/freedesktop/Notifications");
    EXPECT_EQ(Note.Interface, "org.freedesktop.Notifications");
    EXPECT_EQ(Note.Member, "Notify");
    ASSERT_EQ(Note.Arguments.size(), 8);
    EXPECT_EQ(Note.Arguments[0].toString(), "Zembra");
    // The icon is the installed one, named by the program's desktop id, as is the entry hint.
    EXPECT_EQ(Note.Arguments[2].toString(), "io.github.zembra.Zembra");
    EXPECT_EQ(Note.Arguments[3].toString(), "Zembra: 12 finished, 1 failed");
    EXPECT_EQ(qdbus_cast<QVariantMap>(Note.Arguments[6]).value("desktop-entry").toString(),
              "io.github.zembra.Zembra");
    EXPECT_EQ(Note.Arguments[7].toInt(), -1);

    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    const QString Output = Dir.filePath("song_(new).mp3");
    {
        QFile F(Output);
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        F.write("x");
    }
    EXPECT_TRUE(ShowInFileManager(Output, Dir.path()));
    ASSERT_EQ(Fake.Calls().size(), 2u);
    const TCall Show = Fake.Calls()[1];
    EXPECT_EQ(Show.Path, "/org/freedesktop/FileManager1");
    EXPECT_EQ(Show.Member, "ShowItems");
    ASSERT_EQ(Show.Arguments.size(), 2);
    EXPECT_EQ(Show.Arguments[0].toStringList(), QStringList{QUrl::fromLocalFile(Output).toString()});
    EXPECT_TRUE(Catcher.Opened.isEmpty());

    // A task that failed has no output file: the folder is opened, the file manager not asked.
    EXPECT_TRUE(ShowInFileManager(Dir.filePath("gone_(new).mp3"), Dir.path()));
    EXPECT_EQ(Fake.Calls().size(), 2u);
    ASSERT_EQ(Catcher.Opened.size(), 1);
    EXPECT_EQ(Catcher.Opened[0], QUrl::fromLocalFile(Dir.path()));

    // No file manager on the bus: the call fails at once and the folder is opened.
    ASSERT_TRUE(Services->unregisterService("org.freedesktop.FileManager1"));
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ShowInFileManager(Output, Dir.path()));
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(3));
    ASSERT_EQ(Catcher.Opened.size(), 2);
    EXPECT_EQ(Catcher.Opened[1], QUrl::fromLocalFile(Dir.path()));

    // Neither file nor folder: nothing to ask.
    EXPECT_FALSE(ShowInFileManager(QString(), Dir.filePath("nowhere")));
}

}  // namespace
}  // namespace zembra

#include "DesktopServicesTest.moc"
