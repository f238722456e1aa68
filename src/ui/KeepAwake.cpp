#include "ui/KeepAwake.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const char* const kScreenSaverService = "org.freedesktop.ScreenSaver";
const char* const kScreenSaverPath = "/org/freedesktop/ScreenSaver";
const char* const kScreenSaverInterface = "org.freedesktop.ScreenSaver";
const char* const kLoginService = "org.freedesktop.login1";
const char* const kLoginPath = "/org/freedesktop/login1";
const char* const kLoginInterface = "org.freedesktop.login1.Manager";
// A reader runs for minutes or hours; no one should wait on a bus longer.
constexpr int kCallTimeoutMs = 5000;

QString ApplicationName() {
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("KVEL_ZorviRQ05_SB03Tool") : name;
}

}  // namespace

// The buses are looked up at the first start: a page that never reads never
// touches D-Bus.
CKeepAwake::CKeepAwake() : m_session(QString()), m_system(QString()), m_onDesktopBuses(true) {}

CKeepAwake::CKeepAwake(const QDBusConnection& session, const QDBusConnection& system)
    : m_session(session), m_system(system) {}

CKeepAwake::~CKeepAwake() { Stop(); }

void CKeepAwake::Start(const QString& reason) {
    if (m_started) return;
    m_started = true;
    if (m_onDesktopBuses) {
        m_session = QDBusConnection::sessionBus();
        m_system = QDBusConnection::systemBus();
        m_onDesktopBuses = false;
    }
    ++m_request;
    InhibitScreenSaver(reason);
    InhibitIdleAndSleep(reason);
}

void CKeepAwake::Stop() {
    if (!m_started) return;
    m_started = false;
    if (m_screenSaverCookie) ReleaseScreenSaver(*m_screenSaverCookie);
    m_screenSaverCookie.reset();
    // Closing the descriptor is what ends the lock.
    m_sleepLock = QDBusUnixFileDescriptor();
}

void CKeepAwake::InhibitScreenSaver(const QString& reason) {
    if (!m_session.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                       kScreenSaverInterface, "Inhibit");
    call << ApplicationName() << reason;
    auto* watcher = new QDBusPendingCallWatcher(m_session.asyncCall(call, kCallTimeoutMs), this);
    const uint64_t request = m_request;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint32_t> reply = *finished;
                if (reply.isError()) return;  // no screen saver service: nothing to hold
                if (IsCurrent(request))
                    m_screenSaverCookie = reply.value();
                else
                    ReleaseScreenSaver(reply.value());
            });
}

void CKeepAwake::InhibitIdleAndSleep(const QString& reason) {
    if (!m_system.isConnected()) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLoginService, kLoginPath, kLoginInterface, "Inhibit");
    call << QStringLiteral("idle:sleep") << ApplicationName() << reason << QStringLiteral("block");
    auto* watcher = new QDBusPendingCallWatcher(m_system.asyncCall(call, kCallTimeoutMs), this);
    const uint64_t request = m_request;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                // A late lock is dropped with the reply, which closes it.
                if (!reply.isError() && IsCurrent(request)) m_sleepLock = reply.value();
            });
}

void CKeepAwake::ReleaseScreenSaver(uint32_t cookie) {
    if (!m_session.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                       kScreenSaverInterface, "UnInhibit");
    call << cookie;
    m_session.asyncCall(call, kCallTimeoutMs);
}
