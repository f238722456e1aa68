#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "ui/KeepAwake.h"

namespace {

// A bus of the test's own: a dbus-daemon on a private socket.
class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return;
        m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted() || !m_daemon.waitForReadyRead(5000)) return;
        address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus() {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    QString address;

private:
    QProcess m_daemon;
};

// The screen saver service as the desktop offers it.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QStringList inhibitions;
    QList<uint> released;
public slots:
    uint Inhibit(const QString& application, const QString& reason) {
        inhibitions << application + QLatin1Char('|') + reason;
        return 41u + static_cast<uint>(inhibitions.size());
    }
    void UnInhibit(uint cookie) { released << cookie; }
};

// The login manager: hands out one end of a pipe; the lock ends when the
// holder closes it, which the test sees as end-of-file on the other end.
class FakeLoginManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLoginManager() override {
        if (readEnd >= 0) close(readEnd);
    }
    QString what, mode;
    int readEnd = -1;
    bool LockReleased() const {
        pollfd p{readEnd, POLLIN, 0};
        char byte;
        return poll(&p, 1, 0) == 1 && read(readEnd, &byte, 1) == 0;
    }
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& w, const QString&, const QString&,
                                    const QString& m) {
        what = w;
        mode = m;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return {};
        if (readEnd >= 0) close(readEnd);
        readEnd = ends[0];
        QDBusUnixFileDescriptor handed(ends[1]);  // duplicates it
        close(ends[1]);
        return handed;
    }
};

}  // namespace

class KeepAwakeTest : public QObject {
    Q_OBJECT
private slots:
    void missingBusesAreNoError() {
        const QDBusConnection none = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"));
        CKeepAwake awake(none, none);
        awake.Start(QStringLiteral("reading"));
        QVERIFY(awake.IsStarted());
        QVERIFY(!awake.HoldsScreenSaver());
        QVERIFY(!awake.HoldsSleepLock());
        awake.Stop();
        QVERIFY(!awake.IsStarted());
    }

    void servicesAreHeldUntilStop() {
        PrivateBus bus;
        if (bus.address.isEmpty()) QSKIP("dbus-daemon is not installed");
        QDBusConnection service = QDBusConnection::connectToBus(bus.address, QStringLiteral("svc"));
        QDBusConnection client = QDBusConnection::connectToBus(bus.address, QStringLiteral("cli"));
        FakeScreenSaver saver;
        FakeLoginManager login;
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")));
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/login1"), &login,
                                       QDBusConnection::ExportAllSlots));

        {
            // The test's bus plays both the session and the system bus.
            CKeepAwake awake(client, client);
            awake.Start(QStringLiteral("Realtime data"));
            QVERIFY(QTest::qWaitFor(
                [&] { return awake.HoldsScreenSaver() && awake.HoldsSleepLock(); }));
            QCOMPARE(saver.inhibitions.size(), 1);
            QVERIFY(saver.inhibitions[0].endsWith(QStringLiteral("|Realtime data")));
            QCOMPARE(login.what, QStringLiteral("idle:sleep"));
            QCOMPARE(login.mode, QStringLiteral("block"));
            QVERIFY(!login.LockReleased());

            awake.Stop();
            QVERIFY(!awake.HoldsSleepLock());
            QVERIFY(QTest::qWaitFor([&] { return login.LockReleased(); }));
            QVERIFY(QTest::qWaitFor([&] { return saver.released == QList<uint>{42u}; }));

            // Stopped before the answers come: what is granted late goes back.
            awake.Start(QStringLiteral("again"));
            awake.Stop();
            QVERIFY(QTest::qWaitFor([&] { return saver.released.size() == 2; }));
            QCOMPARE(saver.released[1], 43u);
            QVERIFY(QTest::qWaitFor([&] { return login.LockReleased(); }));
            QVERIFY(!awake.HoldsScreenSaver());
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("svc"));
        QDBusConnection::disconnectFromBus(QStringLiteral("cli"));
    }
};

QTEST_GUILESS_MAIN(KeepAwakeTest)
#include "KeepAwakeTest.moc"
