// A module emulator on a virtual port, connected through a module session
// as the connection panel leaves it: identity and parameters read, data
// transfer mode, command mode left again. Given faults only, its reports
// come quickly (tests/support/QuickReports.h); given options, as they say.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "connection/RadarSession.h"
#include "emulator/ModuleEmulator.h"
#include "tests/support/QuickReports.h"

struct ConnectedModule {
    explicit ConnectedModule(std::set<emulator::Fault> faults = {})
        : ConnectedModule(WithFaults(std::move(faults))) {}
    explicit ConnectedModule(emulator::Options options) {
        emulator = std::make_unique<emulator::ModuleEmulator>(options);
        std::string error;
        started = emulator->Start(&error);
        if (!started) return;
        opened = session.Connect(emulator->PortNumber(), options.baudRate).opened;
    }
    ConnectedModule(const ConnectedModule&) = delete;
    ConnectedModule& operator=(const ConnectedModule&) = delete;

    static emulator::Options WithFaults(std::set<emulator::Fault> faults) {
        emulator::Options options = test_support::QuickReports();
        options.faults = std::move(faults);
        return options;
    }

    // The session closes its port before the emulator goes.
    std::unique_ptr<emulator::ModuleEmulator> emulator;
    CRadarSession session;
    bool started = false;
    bool opened = false;
};
