#include "device/KVEL_DataProcess.h"

void CRadarDataCollector::StartCollection(int channelCount) {
    m_channels.assign(static_cast<size_t>(channelCount > 0 ? channelCount : 0), Channel{});
}

void CRadarDataCollector::UpdateValue(int channel, double value) {
    if (channel < 0 || channel >= static_cast<int>(m_channels.size())) return;
    Channel& c = m_channels[static_cast<size_t>(channel)];
    c.sum += value;
    ++c.count;
}

double CRadarDataCollector::GetCurrentAvgValue(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(m_channels.size())) return 0.0;
    const Channel& c = m_channels[static_cast<size_t>(channel)];
    return c.count > 0 ? c.sum / c.count : 0.0;
}

int CRadarDataCollector::GetSampleCount(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(m_channels.size())) return 0;
    return m_channels[static_cast<size_t>(channel)].count;
}
