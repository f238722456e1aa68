// SIGINT and SIGTERM close a window the way its close button does, so that
// stopping the program from a terminal still runs its tear-down and keeps
// the settings. The signal handler only writes a byte to a pipe; the window
// is closed on the user-interface thread when that byte is read, after any
// message box open above it has been answered and its handler has returned.
// A further signal while the tear-down runs ends the program at once.
#pragma once

#include <csignal>

#include <QObject>
#include <QPointer>

class QSocketNotifier;
class QWidget;

class CSignalClose : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; they stay until this object goes, when the
    // previous handlers come back. Made just before the window's own loop
    // runs (its exec), which is where the window is closed from.
    explicit CSignalClose(QWidget* window);
    ~CSignalClose() override;
    CSignalClose(const CSignalClose&) = delete;
    CSignalClose& operator=(const CSignalClose&) = delete;

    bool IsInstalled() const { return m_installed; }

private:
    void OnSignalByte();
    void CloseWhenOutermost();

    QPointer<QWidget> m_window;
    int m_windowLoopLevel;
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_previousInt {};
    struct sigaction m_previousTerm {};
    bool m_installed = false;
};
