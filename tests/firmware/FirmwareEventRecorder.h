// An IFirmwareObserver that writes down every event, with the texts the
// firmware page shows for it, for the transfer's tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/FirmwareTexts.h"
#include "firmware/FirmwareTransfer.h"

struct FirmwareEventRecorder : firmware::IFirmwareObserver {
    struct Event {
        std::string kind;
        std::string text;
    };

    void OnLog(const std::string& text) override { Add("log", text); }
    void OnRunningMode(std::optional<uint32_t> mode) override {
        Add("mode", firmware::RunningModeText(mode));
    }
    void OnDeviceId(std::optional<uint32_t> id) override { Add("id", firmware::DeviceIdText(id)); }
    void OnPartitions(const std::vector<firmware::PartitionEntry>& entries) override {
        std::string text;
        for (const auto& entry : entries)
            text += entry.text + "=" + std::to_string(entry.bit) + ";";
        Add("partitions", text);
    }
    void OnImage(uint32_t bytes, uint32_t checksum) override {
        Add("size", firmware::FileSizeText(bytes));
        Add("checksum", firmware::ChecksumText(checksum));
    }
    // "progress": the text; "sent": "bytes/total".
    void OnProgress(uint32_t sent, uint32_t total) override {
        Add("progress", firmware::ProgressText(sent, total));
        Add("sent", std::to_string(sent) + "/" + std::to_string(total));
    }
    void OnBusy(bool busy) override { Add("busy", busy ? "1" : "0"); }
    void OnPortClosed() override { Add("closed", ""); }
    void OnMessage(const std::string& text) override { Add("message", text); }
    void OnFinished(firmware::FirmwareResult) override { Add("finished", ""); }

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
