#include "app/SignalClose.h"

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>

#include <QApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace {

// The pipe the handler writes to; one instance is installed at a time.
int gSignalPipe[2] = {-1, -1};
// Set once the window's tear-down has begun: a signal after that finds the
// program unable to close by itself (a hung tear-down) and ends it.
std::atomic<int> gClosing{0};
// How often a close waits for nested loops to end.
constexpr int kRetryMs = 10;
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void WriteSignalByte(int signalNumber) {
    if (gClosing.load() != 0) _exit(128 + signalNumber);
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    // Non-blocking: when the pipe is full a close is already on its way.
    [[maybe_unused]] ssize_t written = write(gSignalPipe[1], &byte, 1);
    errno = savedErrno;
}

bool MakeSignalPipe() {
    if (pipe(gSignalPipe) != 0) return false;
    for (int fd : gSignalPipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

void CloseSignalPipe() {
    for (int& fd : gSignalPipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

}  // namespace

CSignalClose::CSignalClose(QWidget* window)
    : m_window(window), m_windowLoopLevel(QThread::currentThread()->loopLevel() + 1) {
    if (gSignalPipe[0] >= 0 || !MakeSignalPipe()) return;

    gClosing.store(0);
    m_notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { OnSignalByte(); });

    struct sigaction action {};
    action.sa_handler = WriteSignalByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_previousInt);
    sigaction(SIGTERM, &action, &m_previousTerm);
    m_installed = true;
}

CSignalClose::~CSignalClose() {
    if (!m_installed) return;
    sigaction(SIGINT, &m_previousInt, nullptr);
    sigaction(SIGTERM, &m_previousTerm, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    CloseSignalPipe();
}

void CSignalClose::OnSignalByte() {
    char bytes[64];
    while (read(gSignalPipe[0], bytes, sizeof bytes) > 0) {}
    CloseWhenOutermost();
}

void CSignalClose::CloseWhenOutermost() {
    if (!m_window) return;
    // A message box or another modal window above the main window runs a
    // loop of its own inside the handler that opened it. Closing the main
    // window from in there would tear everything down under that handler's
    // feet, so the box is answered as cancelled first, and the window closes
    // once the handler has returned and only the window's own loop runs.
    if (QThread::currentThread()->loopLevel() > m_windowLoopLevel) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != m_window && modal->isVisible()) modal->close();
        QTimer::singleShot(kRetryMs, this, [this] { CloseWhenOutermost(); });
        return;
    }
    gClosing.store(1);
    m_window->close();
}
