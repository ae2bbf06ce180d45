#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "devices/CaptureBuffer.h"
#include "devices/CaptureDevice.h"
#include "devices/CaptureDevices.h"
#include "devices/RingCaptureBuffer.h"
#include "tests/devices/ScriptedCaptureBuffer.h"
#include "tests/devices/ScriptedCaptureDevice.h"
#include "devices/TestSignal.h"
#include "devices/TestSignalDevice.h"
#include "platform/Clock.h"

namespace {

struct SListedDevice {
    bool bHasGuid;
    SCaptureGuid guid;
    std::string description;
    std::string module;
};

struct SListing {
    std::vector<SListedDevice> devices;
    size_t nStopAfter = 1000;
};

bool Collect(const SCaptureGuid* pGuid, const char* pszDescription, const char* pszModule,
             void* pContext) {
    auto& listing = *static_cast<SListing*>(pContext);
    listing.devices.push_back(SListedDevice{pGuid != nullptr, pGuid ? *pGuid : SCaptureGuid{},
                                            pszDescription, pszModule});
    return listing.devices.size() < listing.nStopAfter;
}

SWaveFormat Format(uint32_t nRate) {
    return SWaveFormat{1, 2, nRate, 4 * nRate, 4, 16, 0};
}

SCaptureBufferDesc Desc(const SWaveFormat& wfx, uint32_t nBytes) {
    return SCaptureBufferDesc{28, 0, nBytes, 0, &wfx, 0, nullptr};
}

// A scripted device with one buffer of nBytes bytes.
struct SScriptedRing {
    CScriptedCaptureDevice* pDevice = CScriptedCaptureDevice::Create();
    SWaveFormat wfx = Format(8000);
    ICaptureBuffer* pBuffer = nullptr;
    explicit SScriptedRing(uint32_t nBytes) {
        const SCaptureBufferDesc desc = Desc(wfx, nBytes);
        EXPECT_EQ(pDevice->CreateCaptureBuffer(&desc, &pBuffer), 0);
    }
    ~SScriptedRing() {
        if (pBuffer)
            pBuffer->Release();
        pDevice->Release();
    }
    CScriptedCaptureBuffer& Ring() { return *pDevice->LastBuffer(); }
};

int16_t SampleAt(const void* p, uint32_t nByte) {
    int16_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(p) + nByte, 2);
    return v;
}

} // namespace

// ---- Enumeration and creation ---------------------------------------------

TEST(CaptureDevices, ListThePrimaryDeviceFirstAndTheTestSignalLast) {
    SListing listing;
    ASSERT_EQ(CaptureEnumerate(Collect, &listing), 0);
    ASSERT_GE(listing.devices.size(), 2u);
    EXPECT_FALSE(listing.devices.front().bHasGuid);
    EXPECT_FALSE(listing.devices.front().description.empty());
    const SListedDevice& last = listing.devices.back();
    EXPECT_TRUE(last.bHasGuid);
    EXPECT_EQ(last.description, "Test signal (built-in)");
    for (size_t i = 1; i < listing.devices.size(); ++i)
        EXPECT_TRUE(listing.devices[i].bHasGuid) << listing.devices[i].description;
}

TEST(CaptureDevices, EveryListedDeviceHasItsOwnIdentifier) {
    SListing listing;
    ASSERT_EQ(CaptureEnumerate(Collect, &listing), 0);
    for (size_t i = 1; i < listing.devices.size(); ++i)
        for (size_t j = i + 1; j < listing.devices.size(); ++j)
            EXPECT_NE(std::memcmp(listing.devices[i].guid.bytes, listing.devices[j].guid.bytes, 16),
                      0)
                << listing.devices[i].description << " / " << listing.devices[j].description;
}

TEST(CaptureDevices, EnumerationStopsWhenTheCallbackSaysSo) {
    SListing listing;
    listing.nStopAfter = 1;
    ASSERT_EQ(CaptureEnumerate(Collect, &listing), 0);
    EXPECT_EQ(listing.devices.size(), 1u);
}

TEST(CaptureDevices, EnumerationWithoutACallbackFails) {
    EXPECT_LT(CaptureEnumerate(nullptr, nullptr), 0);
}

TEST(CaptureDevices, TheListedTestSignalOpensByItsIdentifier) {
    SListing listing;
    ASSERT_EQ(CaptureEnumerate(Collect, &listing), 0);
    ICaptureDevice* pCapture = nullptr;
    ASSERT_EQ(CaptureCreate(&listing.devices.back().guid, &pCapture), 0);
    ASSERT_NE(pCapture, nullptr);
    EXPECT_EQ(pCapture->Release(), 0u);
}

TEST(CaptureDevices, AnUnknownIdentifierFailsWithANegativeCode) {
    SCaptureGuid guid{};
    std::memset(guid.bytes, 0xAB, sizeof guid.bytes);
    ICaptureDevice* pCapture = reinterpret_cast<ICaptureDevice*>(1);
    EXPECT_LT(CaptureCreate(&guid, &pCapture), 0);
    EXPECT_EQ(pCapture, nullptr);
}

TEST(CaptureDevices, AScriptedDeviceOpensOnlyWhileItExists) {
    auto* pDevice = CScriptedCaptureDevice::Create();
    const SCaptureGuid guid = pDevice->Guid();
    ICaptureDevice* pCapture = nullptr;
    ASSERT_EQ(CaptureCreate(&guid, &pCapture), 0);
    EXPECT_EQ(pCapture, pDevice);
    pCapture->Release();
    pDevice->Release();
    EXPECT_LT(CaptureCreate(&guid, &pCapture), 0);
}

TEST(CaptureDevices, BuffersRefuseAnythingButSixteenBitStereo) {
    ICaptureDevice* pCapture = nullptr;
    const SCaptureGuid guid = CTestSignalDevice::Guid();
    ASSERT_EQ(CaptureCreate(&guid, &pCapture), 0);
    ICaptureBuffer* pBuffer = nullptr;
    SWaveFormat mono = Format(44100);
    mono.nChannels = 1;
    mono.nBlockAlign = 2;
    mono.nAvgBytesPerSec = 88200;
    SCaptureBufferDesc desc = Desc(mono, 352800);
    EXPECT_LT(pCapture->CreateCaptureBuffer(&desc, &pBuffer), 0);
    SWaveFormat eightBit = Format(44100);
    eightBit.wBitsPerSample = 8;
    desc = Desc(eightBit, 352800);
    EXPECT_LT(pCapture->CreateCaptureBuffer(&desc, &pBuffer), 0);
    const SWaveFormat good = Format(44100);
    desc = Desc(good, 0);
    EXPECT_LT(pCapture->CreateCaptureBuffer(&desc, &pBuffer), 0);
    desc = Desc(good, 1001);
    EXPECT_LT(pCapture->CreateCaptureBuffer(&desc, &pBuffer), 0);
    EXPECT_LT(pCapture->CreateCaptureBuffer(nullptr, &pBuffer), 0);
    EXPECT_EQ(pBuffer, nullptr);
    desc = Desc(good, 352800);
    ASSERT_EQ(pCapture->CreateCaptureBuffer(&desc, &pBuffer), 0);
    pBuffer->Release();
    pCapture->Release();
}

// ---- The ring -------------------------------------------------------------

TEST(CaptureRing, ARangePastTheEndComesBackAsTwoRegionsTheSecondFromZero) {
    SScriptedRing r(400);
    r.Ring().Fill([](uint32_t i) { return static_cast<int16_t>(i); },
                  [](uint32_t i) { return static_cast<int16_t>(-static_cast<int>(i)); });
    void* p1 = nullptr;
    void* p2 = nullptr;
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    ASSERT_EQ(r.pBuffer->Lock(360, 100, &p1, &n1, &p2, &n2, 0), 0);
    EXPECT_EQ(n1, 40u);
    EXPECT_EQ(n2, 60u);
    ASSERT_NE(p2, nullptr);
    EXPECT_EQ(SampleAt(p1, 0), 90); // frame 90 starts at byte 360
    EXPECT_EQ(SampleAt(p1, 2), -90);
    EXPECT_EQ(SampleAt(p1, 36), 99);
    EXPECT_EQ(SampleAt(p2, 0), 0);
    EXPECT_EQ(SampleAt(p2, 56), 14);
    EXPECT_EQ(r.pBuffer->Unlock(p1, n1, p2, n2), 0);
}

TEST(CaptureRing, ARangeInsideTheRingIsOneRegion) {
    SScriptedRing r(400);
    void* p1 = nullptr;
    void* p2 = reinterpret_cast<void*>(1);
    uint32_t n1 = 0;
    uint32_t n2 = 99;
    ASSERT_EQ(r.pBuffer->Lock(0, 400, &p1, &n1, &p2, &n2, 0), 0);
    EXPECT_EQ(n1, 400u);
    EXPECT_EQ(n2, 0u);
    EXPECT_EQ(p2, nullptr);
    EXPECT_EQ(r.pBuffer->Unlock(p1, n1, p2, n2), 0);
}

TEST(CaptureRing, LocksOutsideTheRingOrTwiceAtOnceFail) {
    SScriptedRing r(400);
    void* p1 = nullptr;
    void* p2 = nullptr;
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    EXPECT_LT(r.pBuffer->Lock(400, 4, &p1, &n1, &p2, &n2, 0), 0);
    EXPECT_LT(r.pBuffer->Lock(0, 404, &p1, &n1, &p2, &n2, 0), 0);
    EXPECT_LT(r.pBuffer->Lock(0, 0, &p1, &n1, &p2, &n2, 0), 0);
    ASSERT_EQ(r.pBuffer->Lock(0, 8, &p1, &n1, &p2, &n2, 0), 0);
    void* q1 = nullptr;
    EXPECT_LT(r.pBuffer->Lock(8, 8, &q1, &n1, &p2, &n2, 0), 0);
    EXPECT_EQ(r.pBuffer->Unlock(p1, 8, nullptr, 0), 0);
    EXPECT_LT(r.pBuffer->Unlock(p1, 8, nullptr, 0), 0);
    EXPECT_EQ(r.pBuffer->Lock(8, 8, &q1, &n1, &p2, &n2, 0), 0);
    EXPECT_EQ(r.pBuffer->Unlock(q1, 8, nullptr, 0), 0);
}

TEST(CaptureRing, WrittenFramesAdvanceTheReadPositionAndWrap) {
    SScriptedRing r(40); // ten frames
    const int16_t frames[2 * 12] = {1, -1, 2, -2, 3, -3, 4,  -4,  5,  -5,  6,  -6,
                                    7, -7, 8, -8, 9, -9, 10, -10, 11, -11, 12, -12};
    r.Ring().WriteFrames(frames, 7);
    uint32_t capture = 0;
    uint32_t read = 0;
    ASSERT_EQ(r.pBuffer->GetCurrentPosition(&capture, &read), 0);
    EXPECT_EQ(read, 28u);
    r.Ring().WriteFrames(frames + 14, 5); // 8..12: the last two wrap to the start
    ASSERT_EQ(r.pBuffer->GetCurrentPosition(&capture, &read), 0);
    EXPECT_EQ(read, 8u);
    void* p1 = nullptr;
    uint32_t n1 = 0;
    ASSERT_EQ(r.pBuffer->Lock(0, 40, &p1, &n1, nullptr, nullptr, 0), 0);
    EXPECT_EQ(SampleAt(p1, 0), 11);
    EXPECT_EQ(SampleAt(p1, 6), -12);
    EXPECT_EQ(SampleAt(p1, 8), 3);
    EXPECT_EQ(SampleAt(p1, 36), 10);
    r.pBuffer->Unlock(p1, n1, nullptr, 0);
}

TEST(CaptureRing, MonoSamplesFillBothHalvesOfTheFrame) {
    SScriptedRing r(40);
    const int16_t samples[3] = {100, -200, 300};
    r.Ring().WriteMonoFrames(samples, 3);
    void* p1 = nullptr;
    uint32_t n1 = 0;
    ASSERT_EQ(r.pBuffer->Lock(0, 12, &p1, &n1, nullptr, nullptr, 0), 0);
    EXPECT_EQ(SampleAt(p1, 0), 100);
    EXPECT_EQ(SampleAt(p1, 2), 100);
    EXPECT_EQ(SampleAt(p1, 4), -200);
    EXPECT_EQ(SampleAt(p1, 6), -200);
    EXPECT_EQ(SampleAt(p1, 10), 300);
    r.pBuffer->Unlock(p1, n1, nullptr, 0);
}

TEST(CaptureRing, AFailedDeviceNoLongerReportsPositions) {
    SScriptedRing r(40);
    uint32_t read = 0;
    EXPECT_EQ(r.pBuffer->GetCurrentPosition(nullptr, &read), 0);
    r.Ring().MarkFailed();
    EXPECT_LT(r.pBuffer->GetCurrentPosition(nullptr, &read), 0);
    EXPECT_LT(r.pBuffer->GetCurrentPosition(nullptr, &read), 0);
}

// A source that stops sending while the ring runs counts as gone once the
// ring's limit has passed; one that keeps sending, or a stopped ring, never.
class CStallingRing : public CRingCaptureBuffer {
public:
    CStallingRing(uint32_t nBytes, uint32_t nStallMs) : CRingCaptureBuffer(nBytes) {
        SetStallLimit(nStallMs);
    }
};

TEST(CaptureRing, ASourceThatStopsSendingCountsAsGoneAfterTheLimit) {
    auto* pRing = new CStallingRing(4000, 150);
    SleepMs(300); // stopped: nobody expects data
    EXPECT_EQ(pRing->GetCurrentPosition(nullptr, nullptr), 0);
    ASSERT_EQ(pRing->Start(kCaptureStartLooping), 0);
    for (int i = 0; i < 15; ++i) {
        SleepMs(20);
        pRing->NoteDelivery();
        EXPECT_EQ(pRing->GetCurrentPosition(nullptr, nullptr), 0) << i;
    }
    SleepMs(300);
    EXPECT_EQ(pRing->GetCurrentPosition(nullptr, nullptr), kCaptureErrDeviceLost);
    pRing->NoteDelivery(); // too late: gone stays gone
    EXPECT_EQ(pRing->GetCurrentPosition(nullptr, nullptr), kCaptureErrDeviceLost);
    pRing->Release();
}

// A writer thread appends numbered frames while the reader locks the newest
// ones: every block the reader sees is a run of consecutive numbers.
TEST(CaptureRing, AReaderAlwaysSeesWholeFramesInOrderWhileTheWriterRuns) {
    SScriptedRing r(4 * 4000);
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
        int16_t block[2 * 64];
        int16_t n = 0;
        while (!stop.load()) {
            for (int i = 0; i < 64; ++i, ++n) {
                block[2 * i] = n;
                block[2 * i + 1] = static_cast<int16_t>(~n);
            }
            r.Ring().WriteFrames(block, 64);
            written += 64;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    while (written.load() < 1000) // a whole block behind the position
        std::this_thread::yield();
    int blocks = 0;
    for (int pass = 0; pass < 2000; ++pass) {
        const int writtenBefore = written.load();
        uint32_t read = 0;
        ASSERT_EQ(r.pBuffer->GetCurrentPosition(nullptr, &read), 0);
        const uint32_t bytes = 4 * 1000;
        const uint32_t offset = read >= bytes ? read - bytes : 4 * 4000 - bytes + read;
        void* p1 = nullptr;
        void* p2 = nullptr;
        uint32_t n1 = 0;
        uint32_t n2 = 0;
        ASSERT_EQ(r.pBuffer->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0), 0);
        ASSERT_EQ(n1 + n2, bytes);
        if (written.load() - writtenBefore > 4000 - 1000 - 64) {
            // The writer lapped this reader between the two calls, as it can
            // on any sound card; the block's start is then newer than its end.
            r.pBuffer->Unlock(p1, n1, p2, n2);
            continue;
        }
        // Region 2 follows region 1 in the copy handed out.
        const auto* first = static_cast<const uint8_t*>(p1);
        if (n2 > 0) {
            ASSERT_EQ(static_cast<const uint8_t*>(p2), first + n1);
        }
        for (uint32_t b = 4; b < bytes; b += 4) {
            const auto expected = static_cast<int16_t>(SampleAt(first, b - 4) + 1);
            ASSERT_EQ(SampleAt(first, b), expected) << "at byte " << b;
            ASSERT_EQ(SampleAt(first, b + 2), static_cast<int16_t>(~expected));
        }
        r.pBuffer->Unlock(p1, n1, p2, n2);
        ++blocks;
    }
    stop = true;
    writer.join();
    EXPECT_GT(blocks, 0);
}

// ---- The built-in test signal ---------------------------------------------

TEST(TestSignal, DwellsOnANoteThenGlidesToTheNext) {
    EXPECT_DOUBLE_EQ(CTestSignal::LeftToneHz(0.0), 440.0);
    EXPECT_DOUBLE_EQ(CTestSignal::LeftToneHz(2.9), 440.0);
    EXPECT_NEAR(CTestSignal::LeftToneHz(3.5), 523.2511, 1e-3); // C5
    const double gliding = CTestSignal::LeftToneHz(3.1);
    EXPECT_GT(gliding, 440.0);
    EXPECT_LT(gliding, 523.2511);
}

TEST(TestSignal, IsTheSameOnEveryRunAndHasBothChannels) {
    CTestSignal a(44100);
    CTestSignal b(44100);
    std::vector<int16_t> fa(2 * 4410);
    std::vector<int16_t> fb(2 * 4410);
    a.Render(fa.data(), 2000);
    a.Render(fa.data() + 4000, 2410); // in two calls: continues seamlessly
    b.Render(fb.data(), 4410);
    EXPECT_EQ(fa, fb);
    int16_t peakLeft = 0;
    int16_t peakRight = 0;
    for (size_t i = 0; i < fa.size(); i += 2) {
        peakLeft = std::max<int16_t>(peakLeft, static_cast<int16_t>(std::abs(fa[i])));
        peakRight = std::max<int16_t>(peakRight, static_cast<int16_t>(std::abs(fa[i + 1])));
    }
    EXPECT_GT(peakLeft, 8000);
    EXPECT_GT(peakRight, 3000);
    EXPECT_LT(peakLeft, 32767);
}

TEST(TestSignal, TheDeviceDeliversTheSignalInRealTime) {
    ICaptureDevice* pCapture = nullptr;
    const SCaptureGuid guid = CTestSignalDevice::Guid();
    ASSERT_EQ(CaptureCreate(&guid, &pCapture), 0);
    const SWaveFormat wfx = Format(8000);
    const SCaptureBufferDesc desc = Desc(wfx, 64000);
    ICaptureBuffer* pBuffer = nullptr;
    ASSERT_EQ(pCapture->CreateCaptureBuffer(&desc, &pBuffer), 0);
    uint32_t read = 1;
    ASSERT_EQ(pBuffer->GetCurrentPosition(nullptr, &read), 0);
    EXPECT_EQ(read, 0u);
    ASSERT_EQ(pBuffer->Start(kCaptureStartLooping), 0);
    const uint32_t start = TimeGetTime();
    SleepMs(300);
    ASSERT_EQ(pBuffer->GetCurrentPosition(nullptr, &read), 0);
    const uint32_t elapsed = TimeGetTime() - start;
    // About 8 frames per millisecond, in blocks of about 10 ms.
    EXPECT_GE(read, 4u * 8u * (300u - 30u));
    EXPECT_LE(read, 4u * 8u * (elapsed + 20u));
    ASSERT_EQ(pBuffer->Stop(), 0);
    uint32_t stopped = 0;
    ASSERT_EQ(pBuffer->GetCurrentPosition(nullptr, &stopped), 0);
    SleepMs(50);
    uint32_t later = 0;
    ASSERT_EQ(pBuffer->GetCurrentPosition(nullptr, &later), 0);
    EXPECT_EQ(later, stopped);

    // What it wrote is the signal itself, from its beginning.
    std::vector<int16_t> expected(2 * 1000);
    CTestSignal(8000).Render(expected.data(), 1000);
    void* p1 = nullptr;
    uint32_t n1 = 0;
    ASSERT_EQ(pBuffer->Lock(0, 4000, &p1, &n1, nullptr, nullptr, 0), 0);
    for (uint32_t i = 0; i < 2000; ++i)
        ASSERT_EQ(SampleAt(p1, 2 * i), expected[i]) << i;
    pBuffer->Unlock(p1, n1, nullptr, 0);
    pBuffer->Release();
    pCapture->Release();
}
