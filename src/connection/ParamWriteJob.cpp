#include "connection/ParamWriteJob.h"

#include "connection/RadarSession.h"

CParamWriteJob::CParamWriteJob(IParamWriteObserver* observer) : m_observer(observer) {}

CParamWriteJob::~CParamWriteJob() { Wait(); }

bool CParamWriteJob::Start(CRadarSession* session, const RadarParamSet& values, int settleMs) {
    if (IsRunning() || !session) return false;
    m_session = session;
    m_values = values;
    m_settleMs = settleMs;
    return m_thread.StartThread("WriteParam", this, 0, 0, kThreadStackSize, 0) != 0;
}

int CParamWriteJob::ThreadFunc(uint64_t) {
    const int result = m_session->WriteParams(m_values);
    if (m_settleMs > 0) HQ_Sleep(static_cast<uint32_t>(m_settleMs));
    if (m_observer) m_observer->OnParamWriteDone(result);
    return 0;
}
