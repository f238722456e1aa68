// The settings document: one "AppConfig" element in appConfig.xml next to
// the program (or in the user's settings folder when the program's folder is
// read-only, see GetUserFileFolderW), read once at start, shared by every window, written whole.
#pragma once

#include <string>

#include "xml/XMLParser.h"

extern XMLParser gAppConfig;

// Writes gAppConfig to appConfig.xml in the settings folder. The new content
// goes to a file beside it that then replaces the old one in one step, so a
// failed or interrupted save leaves the previous file as it was; in a folder
// that takes no new file, the file is written in place. A file the program
// may not write, or could not read at start, is left untouched. False when
// the file was not written.
bool SaveAppConfig();
// The same for an explicit path (used by SaveAppConfig and by tests).
bool SaveAppConfigTo(const std::wstring& path);
// Start-up steps 1-3: read appConfig.xml from the settings folder into
// gAppConfig, ensure the top-level "AppConfig" element and, when it was
// missing, write the file at once. Leftovers of saves killed half-way are
// removed first.
void LoadAppConfigAtStartup();
// The same for an explicit path (used by LoadAppConfigAtStartup and by tests).
void LoadAppConfigFrom(const std::wstring& path);
// The top-level "AppConfig" element of gAppConfig (empty handle when none).
XMLNode AppConfigElement();
// Its child section `name`, created in memory when missing.
XMLNode AppConfigSection(const char* name);

namespace app_config {

constexpr const char* kFileName = "appConfig.xml";
constexpr const char* kRootElement = "AppConfig";

// Attributes of "AppConfig".
constexpr const char* kLanguage = "Language";
constexpr const char* kBaudRate = "BaudRate";
constexpr const char* kRadarConfigFile = "RadarConfigFile";
constexpr const char* kDefaultRadarConfigFile = "RadarParamConfig.xml";

// Section "ParamSetting": the attributes of a parameter file's "RadarParam".
constexpr const char* kParamSetting = "ParamSetting";

// Section "ObjectInfo" (realtime page).
constexpr const char* kObjectInfo = "ObjectInfo";
constexpr const char* kOiEnergyActiveColor = "EnergyWaveWnd_ActiveColor";
constexpr const char* kOiEnergyInactiveColor = "EnergyWaveWnd_InactiveColor";
constexpr const char* kOiEnergyValueAutoScale = "EnergyWaveWnd_ValueAutoScale";
constexpr const char* kOiEnergyValueDisplayMax = "EnergyWaveWnd_ValueDisplayMax";
constexpr const char* kOiEnergyWaveLineWidth = "EnergyWaveWnd_WaveLineWidth";
constexpr const char* kOiDistanceActiveColor = "DistanceWaveWnd_ActiveColor";
constexpr const char* kOiDistanceInactiveColor = "DistanceWaveWnd_InactiveColor";
constexpr const char* kOiDistanceWaveLineWidth = "DistanceWaveWnd_WaveLineWidth";
constexpr const char* kOiTriggerSensingScale = "TriggerSensingScale";
constexpr const char* kOiHoldSensingScale = "HoldSensingScale";
constexpr unsigned kDefaultOiEnergyActiveColor = 0xff000000u;
constexpr unsigned kDefaultOiEnergyInactiveColor = 0xbfc3c3c3u;
constexpr int kDefaultOiEnergyValueAutoScale = 0;
constexpr int kDefaultOiEnergyValueDisplayMax = 100;
constexpr int kDefaultOiEnergyWaveLineWidth = 5;
constexpr unsigned kDefaultOiDistanceActiveColor = 0xffc3c3c3u;
constexpr unsigned kDefaultOiDistanceInactiveColor = 0xff000000u;
constexpr int kDefaultOiDistanceWaveLineWidth = 5;
constexpr double kDefaultOiTriggerSensingScale = 5.0;
constexpr double kDefaultOiHoldSensingScale = 3.5;

// Section "DataProcess" (capture/analysis page).
constexpr const char* kDataProcess = "DataProcess";
constexpr const char* kDpEnergyBkColor = "EnergyWaveWnd_BkColor";
constexpr const char* kDpEnergyValueAutoScale = "EnergyWaveWnd_ValueAutoScale";
constexpr const char* kDpEnergyValueDisplayMax = "EnergyWaveWnd_ValueDisplayMax";
constexpr const char* kDpEnergyWaveLineWidth = "EnergyWaveWnd_WaveLineWidth";
constexpr const char* kDpDistanceBkColor = "DistanceWaveWnd_BkColor";
constexpr const char* kDpDistanceWaveLineWidth = "DistanceWaveWnd_WaveLineWidth";
constexpr const char* kDpScanTime = "ScanTime";
constexpr const char* kDpSaveFilePath = "SaveFilePath";
constexpr unsigned kDefaultDpEnergyBkColor = 0x00000000u;
constexpr int kDefaultDpEnergyValueAutoScale = 0;
constexpr int kDefaultDpEnergyValueDisplayMax = 100;
constexpr int kDefaultDpEnergyWaveLineWidth = 5;
constexpr unsigned kDefaultDpDistanceBkColor = 0x00000000u;
constexpr int kDefaultDpDistanceWaveLineWidth = 5;
constexpr int kDefaultDpScanTime = 20;
constexpr const char* kDefaultDpSaveFolderName = "SaveData";  // joined to the data folder

// Section "Download" (firmware update window).
constexpr const char* kDownload = "Download";
constexpr const char* kDlDownloadFilePath = "DownloadFilePath";  // default: the program's folder

}  // namespace app_config
