// Keeps the PC awake while a reader runs: the desktop's screen saver and the
// system's idle and sleep handling are inhibited over D-Bus until Stop. The
// screen saver through org.freedesktop.ScreenSaver on the session bus (a
// cookie handed back at Stop), idle and sleep through org.freedesktop.login1
// on the system bus (a lock held as an open file descriptor until Stop).
// A bus or service that is not there is no error: the PC then simply follows
// its own settings. Calls are asynchronous, so a slow bus never stalls the
// window; a reply that comes after Stop is released at once.
#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

class CKeepAwake : public QObject {
    Q_OBJECT
public:
    // On the user's session bus and the system bus.
    CKeepAwake();
    // On the given buses (tests run their own).
    CKeepAwake(const QDBusConnection& session, const QDBusConnection& system);
    ~CKeepAwake() override;  // stops

    // Asks both services; `reason` is what they show the user.
    void Start(const QString& reason);
    // Gives back what was granted and forgets what is still being asked.
    void Stop();

    bool IsStarted() const { return m_started; }
    // What the services have granted so far.
    bool HoldsScreenSaver() const { return m_screenSaverCookie.has_value(); }
    bool HoldsSleepLock() const { return m_sleepLock.isValid(); }

private:
    void InhibitScreenSaver(const QString& reason);
    void InhibitIdleAndSleep(const QString& reason);
    void ReleaseScreenSaver(uint32_t cookie);
    bool IsCurrent(uint64_t request) const { return m_started && request == m_request; }

    QDBusConnection m_session;
    QDBusConnection m_system;
    bool m_onDesktopBuses = false;  // the session and system bus, not yet looked up
    bool m_started = false;
    // Counts Start calls, so that a late reply to an earlier one is known.
    uint64_t m_request = 0;
    std::optional<uint32_t> m_screenSaverCookie;
    QDBusUnixFileDescriptor m_sleepLock;
};
