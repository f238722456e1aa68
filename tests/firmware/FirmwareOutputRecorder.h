// An IFirmwareOutput that writes down every call, for the transfer's tests
// and radar-cli's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/FirmwareTransfer.h"

struct FirmwareOutputRecorder : firmware::IFirmwareOutput {
    struct Event {
        std::string kind;
        std::string text;
    };

    void AppendLog(const std::string& text) override { Add("log", text); }
    void ScrollLogToEnd() override { Add("scroll", ""); }
    void SetRunningModeText(const std::string& text) override { Add("mode", text); }
    void SetDeviceIdText(const std::string& text) override { Add("id", text); }
    void SetFileSizeText(const std::string& text) override { Add("size", text); }
    void SetChecksumText(const std::string& text) override { Add("checksum", text); }
    void SetProgressText(const std::string& text) override { Add("progress", text); }
    void SetProgressRange(uint32_t maximum) override { Add("range", std::to_string(maximum)); }
    void SetProgressValue(uint32_t value) override { Add("value", std::to_string(value)); }
    void ShowBusy(bool busy) override { Add("busy", busy ? "1" : "0"); }
    void ReplacePartitions(const std::vector<firmware::PartitionEntry>& entries) override {
        std::string text;
        for (const auto& entry : entries)
            text += entry.text + "=" + std::to_string(entry.bit) + ";";
        Add("partitions", text);
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        Add("message", caption + ": " + text);
    }
    void OnOperationFinished(firmware::FirmwareResult) override { Add("finished", ""); }

    // The texts of every event of `kind`, in order.
    std::vector<std::string> Texts(const std::string& kind) const {
        std::lock_guard lock(mutex);
        std::vector<std::string> texts;
        for (const Event& event : events)
            if (event.kind == kind) texts.push_back(event.text);
        return texts;
    }
    std::string LastText(const std::string& kind) const {
        const std::vector<std::string> texts = Texts(kind);
        return texts.empty() ? std::string() : texts.back();
    }
    // Waits until `count` events of `kind` have come.
    bool WaitFor(const std::string& kind, size_t count, int timeoutMs) {
        std::unique_lock lock(mutex);
        return added.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            size_t seen = 0;
            for (const Event& event : events) seen += event.kind == kind ? 1 : 0;
            return seen >= count;
        });
    }

    mutable std::mutex mutex;
    std::condition_variable added;
    std::vector<Event> events;

private:
    void Add(const char* kind, const std::string& text) {
        {
            std::lock_guard lock(mutex);
            events.push_back({kind, text});
        }
        added.notify_all();
    }
};
