// Threshold calibration as one job: over a number of reports (200 on the
// realtime page) it averages, per range gate, the gate's energy raised by a
// sensing scale, once for the trigger and once for the hold threshold. The
// averages are the proposed thresholds. The realtime page and radar-cli's
// `calibrate` run it on the realtime reader's reports.
//
// A report's candidate for gate g with raw energy r and scale s is
// min(10 log10(r s), 90) dB when r s > 1; otherwise the gate's previous
// candidate stands (0.0 before any), so a silent gate keeps pulling its
// average towards what it last said.
//
// Reports arrive on the reading worker; starting, cancelling and reading the
// progress may happen on any thread.
#pragma once

#include <array>
#include <mutex>

#include "device/KVEL_DataProcess.h"
#include "device/RadarProtocol.h"
#include "realtime/ReportFrame.h"

struct CalibrationProgress {
    using GateValues = std::array<double, radar_protocol::kGateCount>;
    int taken = 0;    // reports averaged so far
    int wanted = 0;   // reports the calibration averages
    int percent = 0;  // taken * 100 / wanted, in whole numbers
    bool complete = false;
    GateValues trigger{};  // the running averages, dB
    GateValues hold{};
};

class ICalibrationObserver {
public:
    virtual ~ICalibrationObserver() = default;
    // After each report the calibration took (reading worker). `progress`
    // is complete on the last one.
    virtual void OnCalibrationStep(const CalibrationProgress& progress) = 0;
};

class CThresholdCalibration {
public:
    static constexpr int kDefaultReports = 200;
    static constexpr double kCandidateCapDb = 90.0;
    static constexpr double kDefaultTriggerScale = 5.0;
    static constexpr double kDefaultHoldScale = 3.5;

    void SetObserver(ICalibrationObserver* observer);
    void SetSensingScales(double trigger, double hold);

    // Starts a new collection of `reports` reports, forgetting the last
    // one's averages (the candidates stay).
    void Start(int reports = kDefaultReports);
    // Takes no more reports; the averages stay as they are.
    void Cancel();
    bool IsRunning() const;
    CalibrationProgress Progress() const;

    // Reading worker: one report.
    void OnReport(const ObjectReport& report);

private:
    CalibrationProgress ProgressLocked() const;

    mutable std::mutex m_lock;
    ICalibrationObserver* m_observer = nullptr;
    double m_triggerScale = kDefaultTriggerScale;
    double m_holdScale = kDefaultHoldScale;
    bool m_running = false;
    int m_taken = 0;
    int m_wanted = kDefaultReports;
    CalibrationProgress::GateValues m_triggerCandidate{};
    CalibrationProgress::GateValues m_holdCandidate{};
    CRadarDataCollector m_triggerAverages;
    CRadarDataCollector m_holdAverages;
};
