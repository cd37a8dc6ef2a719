// When a native backend whose sound device went away while playing (the
// sound server stopped, the headset pulled) tries to open one again: about
// once a second until one opens. Attempts are counted from the last open or
// attempt, so a device that comes and goes cannot make the player open
// devices in a tight loop. Platform-free: the backends feed it their own
// monotonic millisecond clock. A device missing at start-up is not retried:
// the player ends with status 1 (failAudio).
#pragma once

#include <cstdint>

// The least time between two attempts to open a device.
inline constexpr uint64_t kAudioRetryMs = 1000;

// A device that has handed back none of the buffers queued on it for this
// long (the waveOut output queues 370 ms) is taken as lost, as when a driver
// stops playing without saying so.
inline constexpr uint64_t kAudioStallMs = 2000;

inline bool deviceStalled(uint64_t lastProgressMs, uint64_t nowMs) {
    return nowMs - lastProgressMs >= kAudioStallMs;
}

class DeviceRetry {
  public:
    // A device was opened at `openedAtMs`.
    explicit DeviceRetry(uint64_t openedAtMs) : lastAttemptMs_(openedAtMs) {}

    // The device was found gone (and closed): from now on attempts are due.
    void lost() {
        missing_ = true;
        attempts_ = 0;
    }
    bool missing() const { return missing_; }

    // Whether an attempt to open a device is to be made at `nowMs`.
    bool due(uint64_t nowMs) const { return missing_ && nowMs - lastAttemptMs_ >= kAudioRetryMs; }
    // How long to wait from `nowMs` until the next attempt is due; 0 when it
    // is due now or no device is missing.
    uint64_t waitMs(uint64_t nowMs) const {
        if (!missing_ || nowMs - lastAttemptMs_ >= kAudioRetryMs) {
            return 0;
        }
        return kAudioRetryMs - (nowMs - lastAttemptMs_);
    }
    // An attempt was made at `nowMs`; `opened` says whether a device opened.
    void attempted(uint64_t nowMs, bool opened) {
        lastAttemptMs_ = nowMs;
        ++attempts_;
        if (opened) {
            missing_ = false;
        }
    }
    // Attempts since the device was lost, the successful one included.
    int attempts() const { return attempts_; }

  private:
    uint64_t lastAttemptMs_;
    bool missing_ = false;
    int attempts_ = 0;
};
