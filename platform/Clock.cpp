#include "platform/Clock.h"

#include <chrono>
#include <thread>

uint32_t TimeGetTime() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t nMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}
