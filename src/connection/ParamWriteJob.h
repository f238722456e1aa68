// A parameter write that the window does not wait for: the set is written to
// the module on a thread of its own ("WriteParam"), which then gives the
// module time to settle before the observer hears the result. The realtime
// page's "Apply Thres." runs it, so the window stays responsive for the
// second the module needs after a threshold write.
#pragma once

#include <atomic>

#include "common/KVEL_Common.h"
#include "params/RadarParam.h"

class CRadarSession;

class IParamWriteObserver {
public:
    virtual ~IParamWriteObserver() = default;
    // On the job's thread, its last call: the write's result (kRadarOk,
    // kRadarNotConnected, kRadarNoAnswer), after the settle time.
    virtual void OnParamWriteDone(int result) = 0;
};

class CParamWriteJob : private IThreadFuncInterface {
public:
    static constexpr int kThreadStackSize = 0x100000;

    explicit CParamWriteJob(IParamWriteObserver* observer);
    ~CParamWriteJob() override;  // waits for a running write
    CParamWriteJob(const CParamWriteJob&) = delete;
    CParamWriteJob& operator=(const CParamWriteJob&) = delete;

    // Writes `values` (copied) through the session, waits `settleMs`, then
    // tells the observer. False while a write runs.
    bool Start(CRadarSession* session, const RadarParamSet& values, int settleMs);
    bool IsRunning() const { return m_thread.IsRunning(); }
    // Returns once a running write has told its result.
    void Wait() { m_thread.StopThread(); }

private:
    int ThreadFunc(uint64_t param) override;

    IParamWriteObserver* m_observer;
    CRadarSession* m_session = nullptr;
    CBaseThread m_thread;
    // Set by Start before the thread runs; not changed while it runs.
    RadarParamSet m_values;
    int m_settleMs = 0;
};
