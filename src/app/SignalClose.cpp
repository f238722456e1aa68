#include "app/SignalClose.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

namespace {

// The pipe the handler writes to; one instance is installed at a time.
int gSignalPipe[2] = {-1, -1};

extern "C" void WriteSignalByte(int signalNumber) {
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

CSignalClose::CSignalClose(QWidget* window) : m_window(window) {
    if (gSignalPipe[0] >= 0 || !MakeSignalPipe()) return;

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
    if (!m_window) return;
    // A message box or another modal window above the main window would
    // keep its own loop running; it goes first, answered as cancelled.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != m_window && modal->isVisible()) modal->close();
    m_window->close();
}
