// The messages workers post to their pages, as events of the user-interface
// thread. Each event type carries the message's number above QEvent::User.
#pragma once

#include <QEvent>

constexpr int WM_USER = 0x0400;
// One per report of the realtime reader.
constexpr int WM_REALTIME_REPORT = WM_USER + 256;
// A capture or replay run has ended.
constexpr int WM_CAPTURE_FINISHED = WM_USER + 258;
// A recording's data file could not be created or written.
constexpr int WM_CAPTURE_FILE_FAILED = WM_USER + 259;

constexpr QEvent::Type WindowMessageEvent(int message) {
    return static_cast<QEvent::Type>(QEvent::User + message);
}
