// Diagnostic lines: formatted once, decorated, and handed whole to every
// registered callback.
//
// Delivery holds no lock while a callback runs. Each delivery notes the
// registry generation it took its snapshot in; removing a callback bumps the
// generation and waits until every delivery of an older generation has
// finished, so a removed callback is never called once the removal returned,
// and a steady stream of new lines cannot starve the removal.
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/KVEL_Common.h"

namespace {

struct Entry {
    DbgOutputCallback callback;
    void* user;
};

struct Registry {
    std::mutex mutex;
    std::condition_variable idle;
    std::vector<Entry> entries;
    uint64_t generation = 0;
    std::map<uint64_t, int> activeByGeneration;
    std::string tag;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // lives past static destruction
    return *registry;
}

std::atomic<int> gTimeType{0};
std::atomic<int> gIncludePidTid{0};
std::atomic<bool> gStderr{false};
std::atomic<int> gMinimumLevel{0};

// Lines produced from inside a callback are dropped: they would recurse.
thread_local int tDeliveryDepth = 0;

std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(ms / 1000);
    struct tm local {};
    localtime_r(&seconds, &local);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

std::string PidTid() {
    char text[48];
    std::snprintf(text, sizeof text, "[%ld:%ld] ", static_cast<long>(getpid()),
                  static_cast<long>(syscall(SYS_gettid)));
    return text;
}

std::string FormatBody(const char* format, va_list args) {
    if (!format) return {};
    va_list copy;
    va_copy(copy, args);
    char small[512];
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<size_t>(needed) < sizeof small)
        return std::string(small, static_cast<size_t>(needed));
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(needed));
    return text;
}

void Deliver(const std::string& line) {
    Registry& r = TheRegistry();
    std::vector<Entry> snapshot;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        if (r.entries.empty()) return;
        snapshot = r.entries;
        generation = r.generation;
        ++r.activeByGeneration[generation];
    }
    ++tDeliveryDepth;
    for (const Entry& e : snapshot)
        e.callback(e.user, 0, line.c_str(), static_cast<int>(line.size()));
    --tDeliveryDepth;
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.activeByGeneration.find(generation);
    if (--it->second == 0) {
        r.activeByGeneration.erase(it);
        r.idle.notify_all();
    }
}

}  // namespace

void DbgOutputVA(int level, const char* format, va_list args) {
    if (tDeliveryDepth > 0 || level < gMinimumLevel.load()) return;
    std::string line;
    if (gTimeType.load() == 1) line += TimeStamp();
    if (gIncludePidTid.load()) line += PidTid();
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (!r.tag.empty()) line += "[" + r.tag + "] ";
    }
    line += FormatBody(format, args);
    if (gStderr.load()) {
        std::string copy = line;
        if (copy.empty() || copy.back() != '\n') copy += '\n';
        // One write call keeps lines of several threads apart.
        ssize_t ignored = write(STDERR_FILENO, copy.data(), copy.size());
        (void)ignored;
    }
    Deliver(line);
}

void DbgOutputA(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    DbgOutputVA(level, format, args);
    va_end(args);
}

bool DbgOutputAddCallback(DbgOutputCallback callback, void* user) {
    if (!callback) return false;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const Entry& e : r.entries)
        if (e.callback == callback) return false;
    r.entries.push_back({callback, user});
    return true;
}

bool DbgOutputDelCallback(DbgOutputCallback callback) {
    Registry& r = TheRegistry();
    std::unique_lock<std::mutex> lock(r.mutex);
    bool found = false;
    for (auto it = r.entries.begin(); it != r.entries.end(); ++it) {
        if (it->callback == callback) {
            r.entries.erase(it);
            found = true;
            break;
        }
    }
    if (!found) return false;
    const uint64_t removedAt = ++r.generation;
    // From inside a callback this thread's own delivery is among the older
    // ones; waiting for it would never end.
    if (tDeliveryDepth > 0) return true;
    r.idle.wait(lock, [&] {
        return r.activeByGeneration.empty() || r.activeByGeneration.begin()->first >= removedAt;
    });
    return true;
}

void DbgOutputSetTag(const char* tag, int) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.tag = tag ? tag : "";
}

void DbgOutputSetTimeType(int type) { gTimeType.store(type); }
void DbgOutputSetIncludePIDTID(int include) { gIncludePidTid.store(include); }
void DbgOutputSetStderr(bool enabled) { gStderr.store(enabled); }
void DbgOutputSetMinimumLevel(int level) { gMinimumLevel.store(level); }
