#include "realtime/ObjectInfoSettings.h"

#include <cstdio>

#include "common/KVEL_Common.h"

namespace {

namespace ac = app_config;

void LoadKey(const XMLNode& section, const char* key, void* target, int type) {
    const char* text = section.GetAttribute(key);
    if (text && *text) DigtalStringToValue(text, -1, target, type);
}

void StoreDouble(const XMLNode& section, const char* key, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", value);
    section.SetAttribute(key, text);
}

}  // namespace

void LoadObjectInfoSettings(const XMLNode& section, ObjectInfoSettings* s) {
    if (section.IsEmpty()) return;
    LoadKey(section, ac::kOiEnergyActiveColor, &s->energyActiveColor, kDigitalUInt32);
    LoadKey(section, ac::kOiEnergyInactiveColor, &s->energyInactiveColor, kDigitalUInt32);
    LoadKey(section, ac::kOiEnergyValueAutoScale, &s->energyAutoScale, kDigitalInt32);
    LoadKey(section, ac::kOiEnergyValueDisplayMax, &s->energyDisplayMax, kDigitalInt32);
    LoadKey(section, ac::kOiEnergyWaveLineWidth, &s->energyLineWidth, kDigitalInt32);
    LoadKey(section, ac::kOiDistanceActiveColor, &s->distanceActiveColor, kDigitalUInt32);
    LoadKey(section, ac::kOiDistanceInactiveColor, &s->distanceInactiveColor, kDigitalUInt32);
    LoadKey(section, ac::kOiDistanceWaveLineWidth, &s->distanceLineWidth, kDigitalInt32);
    LoadKey(section, ac::kOiTriggerSensingScale, &s->triggerSensingScale, kDigitalDouble);
    LoadKey(section, ac::kOiHoldSensingScale, &s->holdSensingScale, kDigitalDouble);
}

void StoreObjectInfoSettings(const XMLNode& section, const ObjectInfoSettings& s) {
    if (section.IsEmpty()) return;
    section.SetAttributeHex(ac::kOiEnergyActiveColor, s.energyActiveColor);
    section.SetAttributeHex(ac::kOiEnergyInactiveColor, s.energyInactiveColor);
    section.SetAttributeInt(ac::kOiEnergyValueAutoScale, s.energyAutoScale);
    section.SetAttributeInt(ac::kOiEnergyValueDisplayMax, s.energyDisplayMax);
    section.SetAttributeInt(ac::kOiEnergyWaveLineWidth, s.energyLineWidth);
    section.SetAttributeHex(ac::kOiDistanceActiveColor, s.distanceActiveColor);
    section.SetAttributeHex(ac::kOiDistanceInactiveColor, s.distanceInactiveColor);
    section.SetAttributeInt(ac::kOiDistanceWaveLineWidth, s.distanceLineWidth);
    StoreDouble(section, ac::kOiTriggerSensingScale, s.triggerSensingScale);
    StoreDouble(section, ac::kOiHoldSensingScale, s.holdSensingScale);
}
