// A module emulator on a virtual port, connected as the connection panel
// leaves it: port open, command mode left again. Given faults only, its
// reports come quickly (tests/support/QuickReports.h); given options, as
// they say.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "connection/RadarConnection.h"
#include "device/KVEL_DataProcess.h"
#include "emulator/ModuleEmulator.h"
#include "tests/support/QuickReports.h"

struct ConnectedModule {
    explicit ConnectedModule(std::set<emulator::Fault> faults = {})
        : ConnectedModule(WithFaults(std::move(faults))) {}
    explicit ConnectedModule(emulator::Options options) {
        emulator = std::make_unique<emulator::ModuleEmulator>(options);
        std::string error;
        started = emulator->Start(&error);
        device = KVEL_Interface_RadarDevice_Serial_Create();
        if (!started) return;
        opened = RadarConnection(device).Open(emulator->PortNumber(), 115200);
        KVEL_Interface_RadarDevice_StopCmdMode(device);
    }
    ~ConnectedModule() {
        KVEL_Interface_RadarDevice_Serial_Close(device);
        KVEL_Interface_RadarDevice_Serial_Destroy(device);
    }
    ConnectedModule(const ConnectedModule&) = delete;
    ConnectedModule& operator=(const ConnectedModule&) = delete;

    static emulator::Options WithFaults(std::set<emulator::Fault> faults) {
        emulator::Options options = test_support::QuickReports();
        options.faults = std::move(faults);
        return options;
    }

    std::unique_ptr<emulator::ModuleEmulator> emulator;
    KVEL_RADAR_HANDLE device = nullptr;
    bool started = false;
    bool opened = false;
};
