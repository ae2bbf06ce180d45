#pragma once

#include "devices/CaptureFormat.h"

class ICaptureDevice;

// Called once per capture device, in listing order: first the primary device
// (pGuid null), then every device with its identifier. pszDescription is the
// name to show, pszModule names the backend. The strings and the identifier
// live only for the call (copy them). Return true to go on enumerating.
using CaptureEnumCallback = bool (*)(const SCaptureGuid* pGuid, const char* pszDescription,
                                     const char* pszModule, void* pContext);

// Lists capture devices through a callback: CaptureEnumerate, or a test's list.
using CaptureEnumerateFn = int (*)(CaptureEnumCallback pfnCallback, void* pContext);

// Lists the capture devices: the sound system's input devices, the sound-server
// devices first, then "Test signal (built-in)". Returns 0, or a negative code.
// May take a few seconds where a sound server does not answer: call it off the
// user-interface thread.
int CaptureEnumerate(CaptureEnumCallback pfnCallback, void* pContext);

// The next CaptureEnumerate probes the sound system's own devices anew (the
// sound server's are asked for every time), so that a device plugged in since
// appears.
void CaptureRescan();

// A source of capture devices besides the sound system's and the built-in
// signal, known by the identifiers it gives its devices (the tests' scripted
// devices).
struct SCaptureBackend {
    bool (*pfnIsGuid)(const SCaptureGuid& guid);
    int (*pfnOpen)(const SCaptureGuid& guid, ICaptureDevice** ppCapture);
};
// CaptureCreate opens the devices of a registered source too. Register before
// the first device is opened, from one thread.
void CaptureRegisterBackend(const SCaptureBackend& backend);

// Opens the device an identifier from CaptureEnumerate names, or, for null,
// what the primary entry names: the default input, or the built-in signal
// where there is none. Returns 0 with one reference in *ppCapture, or a
// negative code (kCaptureErrStillLooking while the sound system's devices are
// being probed). Never probes: fit for the user interface. Opening and making
// the device's first buffer wait, together, about 800 ms (kUserWait) at most
// for a sound server or for a probe under way.
int CaptureCreate(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture);
