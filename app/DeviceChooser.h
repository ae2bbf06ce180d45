#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

#include "devices/CaptureDevices.h"
#include "devices/DeviceWatcher.h"

class CDeviceListBox;

// The capture-device list of the set-up group, kept current by a device
// watcher on its own thread: the window never waits for a sound server.
// Until the first list comes the list holds the built-in signal and says that
// it is looking. An entry is known from one list to the next by its device's
// identifier, so the user's pick follows its device; a capture that runs
// keeps the list it was started from, and a list that comes meanwhile waits.
class CDeviceChooser : public QObject {
    Q_OBJECT
public:
    // What the list says until the devices have been found.
    static constexpr const char* kLookingText = "Looking for sound devices\u2026";
    // Sound devices listed besides the primary device and the built-in signal.
    static constexpr int kMaxListedDevices = 20;

    CDeviceChooser(CDeviceListBox* pList, CaptureEnumerateFn pfnEnumerate);
    // No list reaches a chooser that is going.
    ~CDeviceChooser() override;

    // Shows the built-in signal and starts looking for the devices.
    void FillDeviceList();
    // While running, lists wait; Stop shows the newest.
    void SetRunning(bool bRunning);

    // The selected device's identifier; null for the primary device (the
    // default input) or when nothing is selected.
    const SCaptureGuid* SelectedDevice() const;
    QString SelectedDeviceName() const;
    // The list is waiting for its first answer (it says so meanwhile).
    bool IsLookingForDevices() const { return m_bLookingForDevices; }
    CDeviceWatcher* Watcher() const { return m_pDeviceWatcher.get(); }

    // A new list of the capture devices (user-interface thread).
    void OnDevicesListed(std::vector<SCaptureDeviceEntry> devices);

private:
    void ShowDeviceList(const std::vector<SCaptureDeviceEntry>& devices);
    QByteArray EntryKey(int nIndex) const;
    // The program's own choice of entry, which is not the user's pick.
    void SelectDevice(int nIndex);
    void OnDeviceListOpening();
    static bool EnumCaptureDevice(const SCaptureGuid* pGuid, const char* pszDescription,
                                  const char* pszModule, void* pContext);
    void AddDevice(const SCaptureGuid* pGuid, const QString& strDescription, bool bBuiltIn);

    CDeviceListBox* m_pList;
    CaptureEnumerateFn m_pfnEnumerate;
    // Finds the devices off this thread and follows the sound server.
    std::unique_ptr<CDeviceWatcher> m_pDeviceWatcher;
    // Identifiers of the listed devices; the list's item data indexes it.
    std::vector<SCaptureGuid> m_deviceGuids;
    int m_nListedDevices = 0;
    bool m_bBuiltInListed = false;
    // The list shown, and one that came while a capture ran.
    std::vector<SCaptureDeviceEntry> m_shownDevices;
    std::optional<std::vector<SCaptureDeviceEntry>> m_pendingDevices;
    bool m_bLookingForDevices = true;
    // The entry selected is the user's pick, not the program's choice.
    bool m_bDeviceChosen = false;
    bool m_bSelectingDevice = false;
    bool m_bRunning = false;
};
