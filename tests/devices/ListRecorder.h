#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "devices/DeviceWatcher.h"

// Receives a device watcher's lists on its thread and lets a test wait for one.
class CListRecorder {
public:
    using Devices = std::vector<SCaptureDeviceEntry>;

    CDeviceWatcher::ListedFn Listener() {
        return [this](Devices devices) {
            std::lock_guard guard(m_lock);
            m_lists.push_back(std::move(devices));
            m_arrived.notify_all();
        };
    }

    // Waits up to nTimeoutMs for a list, from the nFrom-th on, that satisfies
    // bWanted; true and that list in *pFound when one came.
    bool WaitFor(const std::function<bool(const Devices&)>& bWanted, int nTimeoutMs,
                 size_t nFrom = 0, Devices* pFound = nullptr) {
        std::unique_lock guard(m_lock);
        size_t next = nFrom;
        return m_arrived.wait_for(guard, std::chrono::milliseconds(nTimeoutMs), [&] {
            for (; next < m_lists.size(); ++next)
                if (bWanted(m_lists[next])) {
                    if (pFound)
                        *pFound = m_lists[next];
                    return true;
                }
            return false;
        });
    }

    size_t Count() const {
        std::lock_guard guard(m_lock);
        return m_lists.size();
    }
    Devices Last() const {
        std::lock_guard guard(m_lock);
        return m_lists.empty() ? Devices{} : m_lists.back();
    }

    static bool Has(const Devices& devices, const std::string& description) {
        for (const SCaptureDeviceEntry& device : devices)
            if (device.description == description)
                return true;
        return false;
    }
    static std::string Describe(const Devices& devices) {
        std::string text;
        for (const SCaptureDeviceEntry& device : devices)
            text += "  [" + device.description + "]\n";
        return text;
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<Devices> m_lists;
};
