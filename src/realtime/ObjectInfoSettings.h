// The realtime page's section "ObjectInfo" of the settings: chart colours,
// line widths, the energy axis and the two calibration scales.
#pragma once

#include <cstdint>

#include "settings/AppConfig.h"
#include "xml/XMLParser.h"

struct ObjectInfoSettings {
    // Colour values: the energy plot's background (red in the low byte).
    uint32_t energyActiveColor = app_config::kDefaultOiEnergyActiveColor;
    // ARGB: the shading of the gates beyond the largest gate in use.
    uint32_t energyInactiveColor = app_config::kDefaultOiEnergyInactiveColor;
    int32_t energyAutoScale = app_config::kDefaultOiEnergyValueAutoScale;
    int32_t energyDisplayMax = app_config::kDefaultOiEnergyValueDisplayMax;  // dB
    int32_t energyLineWidth = app_config::kDefaultOiEnergyWaveLineWidth;
    // ARGB: the shading of the distance plot where a target was present.
    uint32_t distanceActiveColor = app_config::kDefaultOiDistanceActiveColor;
    // Colour value: the distance plot's background.
    uint32_t distanceInactiveColor = app_config::kDefaultOiDistanceInactiveColor;
    int32_t distanceLineWidth = app_config::kDefaultOiDistanceWaveLineWidth;
    double triggerSensingScale = app_config::kDefaultOiTriggerSensingScale;
    double holdSensingScale = app_config::kDefaultOiHoldSensingScale;
};

// Each key present with a value replaces the default; the others stay.
void LoadObjectInfoSettings(const XMLNode& section, ObjectInfoSettings* settings);
// Writes all ten keys (colours "0x%08x", integers "%lld", scales "%f").
void StoreObjectInfoSettings(const XMLNode& section, const ObjectInfoSettings& settings);
