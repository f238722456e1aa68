// What the page tests share: the settings of a fresh start in the test
// program folder, English texts, and a page shown in a window of its own.
#pragma once

#include <memory>

#include <QTest>
#include <QWidget>

#include "connection/RadarSession.h"
#include "settings/AppConfig.h"
#include "tests/support/ProgramFolder.h"
#include "ui/Strings.h"

// A fresh settings document in an empty test program folder, as at start-up.
inline void StartPageTestSettings() {
    ResetTestProgramFolder();
    SetUiLanguage(UiLanguage::English);
    gAppConfig.Clear();
    LoadAppConfigAtStartup();
}

// Hands `page` the session, creates it in a new window of its size and
// shows that. False when the page could not be created.
template <typename Page>
bool ShowPageInWindow(Page* page, CRadarSession* session, std::unique_ptr<QWidget>* window) {
    *window = std::make_unique<QWidget>();
    page->SetSession(session);
    if (!page->Create(window->get())) return false;
    (*window)->resize(page->size());
    (*window)->show();
    (*window)->activateWindow();
    return QTest::qWaitForWindowExposed(window->get());
}
