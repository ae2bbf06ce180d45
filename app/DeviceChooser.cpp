#include "app/DeviceChooser.h"

#include <QSignalBlocker>

#include <algorithm>
#include <utility>

#include "app/DeviceListBox.h"
#include "devices/TestSignalDevice.h"

CDeviceChooser::CDeviceChooser(CDeviceListBox* pList, CaptureEnumerateFn pfnEnumerate)
    : m_pList(pList), m_pfnEnumerate(pfnEnumerate) {
    m_pList->setPlaceholderText(QString::fromUtf8(kLookingText));
    connect(m_pList, &CDeviceListBox::PopupAboutToShow, this, &CDeviceChooser::OnDeviceListOpening);
    // Every change of entry that the program does not make is the user's pick,
    // and so is choosing the entry the program had chosen.
    connect(m_pList, &QComboBox::activated, this, [this] { m_bDeviceChosen = true; });
    connect(m_pList, &QComboBox::currentIndexChanged, this,
            [this] { m_bDeviceChosen = m_bDeviceChosen || !m_bSelectingDevice; });
}

CDeviceChooser::~CDeviceChooser() {
    m_pDeviceWatcher.reset();
}

// Until the devices come the list holds the built-in signal, with nothing
// selected, and says that it is looking; the first list selects entry 1,
// unless the user has chosen meanwhile. A failed enumeration still lists the
// built-in signal.
void CDeviceChooser::FillDeviceList() {
    ShowDeviceList({});
    SelectDevice(-1);
    m_pDeviceWatcher = std::make_unique<CDeviceWatcher>(
        m_pfnEnumerate, [this](std::vector<SCaptureDeviceEntry> devices) {
            QMetaObject::invokeMethod(
                this,
                [this, devices = std::move(devices)]() mutable {
                    OnDevicesListed(std::move(devices));
                },
                Qt::QueuedConnection);
        });
}

void CDeviceChooser::SetRunning(bool bRunning) {
    m_bRunning = bRunning;
    if (!bRunning && m_pendingDevices)
        OnDevicesListed(*std::exchange(m_pendingDevices, std::nullopt));
}

void CDeviceChooser::OnDevicesListed(std::vector<SCaptureDeviceEntry> devices) {
    // A running capture keeps the list it was started from.
    if (m_bRunning) {
        m_pendingDevices = std::move(devices);
        return;
    }
    const bool bFirst = std::exchange(m_bLookingForDevices, false);
    if (!bFirst && devices == m_shownDevices)
        return;
    // The user's pick follows its device by identifier while it is listed.
    // Otherwise the program chooses as at start-up, entry 1, the first device
    // after the primary one: so a stand-in chosen while the server was away
    // gives way to the server's first source when it is back.
    const QByteArray chosen = m_bDeviceChosen ? EntryKey(m_pList->currentIndex()) : QByteArray();
    ShowDeviceList(devices);
    m_shownDevices = std::move(devices);
    int nSelect = -1;
    for (int i = 0; !chosen.isEmpty() && i < m_pList->count() && nSelect < 0; ++i)
        if (EntryKey(i) == chosen)
            nSelect = i;
    m_bDeviceChosen = nSelect >= 0;
    SelectDevice(nSelect >= 0 ? nSelect : std::min(1, m_pList->count() - 1));
}

void CDeviceChooser::SelectDevice(int nIndex) {
    m_bSelectingDevice = true;
    m_pList->setCurrentIndex(nIndex);
    m_bSelectingDevice = false;
}

// What names an entry from one list to the next: its device's identifier, or
// "primary" for the primary device; empty for no entry.
QByteArray CDeviceChooser::EntryKey(int nIndex) const {
    if (nIndex < 0 || nIndex >= m_pList->count())
        return {};
    const QVariant data = m_pList->itemData(nIndex);
    if (!data.isValid())
        return QByteArrayLiteral("primary");
    const SCaptureGuid& guid = m_deviceGuids[size_t(data.toInt())];
    return QByteArray(reinterpret_cast<const char*>(guid.bytes), sizeof guid.bytes);
}

// Entries through EnumCaptureDevice, as the sound system reported them, and
// the built-in signal where the report did not include it.
void CDeviceChooser::ShowDeviceList(const std::vector<SCaptureDeviceEntry>& devices) {
    const QSignalBlocker quiet(m_pList);
    m_pList->clear();
    m_deviceGuids.clear();
    m_nListedDevices = 0;
    m_bBuiltInListed = false;
    for (const SCaptureDeviceEntry& device : devices)
        EnumCaptureDevice(device.bPrimary ? nullptr : &device.guid, device.description.c_str(),
                          device.module.c_str(), this);
    if (!m_bBuiltInListed) {
        const SCaptureGuid guid = CTestSignalDevice::Guid();
        AddDevice(&guid, QString::fromUtf8(CTestSignalDevice::kDescription), true);
    }
}

// Without a sound server to report them, devices plugged in since the last
// look are found when the list is opened. A followed server reports its
// sources, and its cards coming and going have the sound system's devices
// probed anew: opening the list then probes nothing, so that a Start right
// after picking an entry never waits for a probe.
void CDeviceChooser::OnDeviceListOpening() {
    if (!m_bRunning && m_pDeviceWatcher && !m_pDeviceWatcher->IsFollowingServer())
        m_pDeviceWatcher->Rescan();
}

bool CDeviceChooser::EnumCaptureDevice(const SCaptureGuid* pGuid, const char* pszDescription,
                                       const char* /*pszModule*/, void* pContext) {
    auto* pChooser = static_cast<CDeviceChooser*>(pContext);
    const bool bBuiltIn = pGuid && CTestSignalDevice::IsGuid(*pGuid);
    pChooser->AddDevice(pGuid, QString::fromUtf8(pszDescription), bBuiltIn);
    return true;
}

void CDeviceChooser::AddDevice(const SCaptureGuid* pGuid, const QString& strDescription,
                               bool bBuiltIn) {
    if (bBuiltIn) {
        if (m_bBuiltInListed)
            return;
        m_bBuiltInListed = true;
    } else if (pGuid && m_nListedDevices >= kMaxListedDevices) {
        return;
    }
    QVariant data; // null: the primary device
    if (pGuid) {
        data = int(m_deviceGuids.size());
        m_deviceGuids.push_back(*pGuid);
        if (!bBuiltIn)
            ++m_nListedDevices;
    }
    m_pList->addItem(strDescription, data);
}

const SCaptureGuid* CDeviceChooser::SelectedDevice() const {
    const QVariant data = m_pList->currentData();
    if (!data.isValid())
        return nullptr; // the primary device, or nothing selected: the default input
    const int nIndex = data.toInt();
    if (nIndex < 0 || nIndex >= int(m_deviceGuids.size()))
        return nullptr;
    return &m_deviceGuids[size_t(nIndex)];
}

QString CDeviceChooser::SelectedDeviceName() const {
    return m_pList->currentText();
}
