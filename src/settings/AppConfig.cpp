#include "settings/AppConfig.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "common/KVEL_Common.h"
#include "common/ReplaceFile.h"

XMLParser gAppConfig;

namespace {

std::wstring SettingsFilePath() {
    wchar_t folder[KVEL_MAX_PATH] = {};
    wchar_t path[KVEL_MAX_PATH] = {};
    if (!GetUserFileFolderW(UserFileKind::kSettings, folder)) return {};
    if (!CombinePathNameW(path, folder, AnsiToWide(app_config::kFileName).c_str())) return {};
    return path;
}

// The settings file when it existed at start but could not be read: what
// it holds is unknown, so no save may replace it with this run's values.
std::wstring gUnreadableAtStart;

// False when the file exists but cannot be read (or is too large to be a
// settings file); a missing file is simply a first start.
bool ReadSettingsFile(const std::wstring& path) {
    if (XMLParser::IsFileTooLarge(path)) {
        DbgOutputA(2, "Settings file \"%s\" not read: it %s\r\n", WideToAnsi(path).c_str(),
                   XMLParser::TooLargeText().c_str());
        return false;
    }
    uint8_t* data = nullptr;
    const size_t size = ReadFileDataW(path.c_str(), &data);
    if (data == nullptr) return !IsFileExistW(path.c_str());
    gAppConfig.LoadFromMemory(data, size);
    ReleaseFileData(data);
    return true;
}

}  // namespace

bool SaveAppConfig() {
    const std::wstring path = SettingsFilePath();
    return !path.empty() && SaveAppConfigTo(path);
}

bool SaveAppConfigTo(const std::wstring& path) {
    if (path.empty() || path == gUnreadableAtStart) return false;
    return ReplaceFileContentW(
        path.c_str(), [](std::FILE* stream) { return gAppConfig.SaveToFile(stream); }, nullptr);
}

XMLNode AppConfigElement() { return gAppConfig.GetRoot().FindChild(app_config::kRootElement); }

XMLNode AppConfigSection(const char* name) { return AppConfigElement().FindOrAddChild(name); }

void LoadAppConfigAtStartup() { LoadAppConfigFrom(SettingsFilePath()); }

void LoadAppConfigFrom(const std::wstring& path) {
    // Saves killed before they could replace the file leave their new
    // content beside it; nobody will ever finish them.
    RemoveStaleReplacementsW(path.c_str());
    gUnreadableAtStart = ReadSettingsFile(path) ? std::wstring() : path;
    if (!AppConfigElement()) {
        gAppConfig.GetRoot().AddChild(app_config::kRootElement);
        SaveAppConfigTo(path);
    }
}
