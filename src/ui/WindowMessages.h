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
// A threshold calibration took a report.
constexpr int WM_CALIBRATION_STEP = WM_USER + 260;
// "Apply Thres." has written the thresholds and waited for the module; the
// event carries the write's result.
constexpr int WM_PARAM_WRITE_DONE = WM_USER + 261;
// The module session found the line gone.
constexpr int WM_LINE_LOST = WM_USER + 262;

constexpr QEvent::Type WindowMessageEvent(int message) {
    return static_cast<QEvent::Type>(QEvent::User + message);
}
