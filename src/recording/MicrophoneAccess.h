#pragma once

namespace tarvio {

// The system's consent for the microphone.
class MicrophoneAccess {
public:
    // 0 not determined, 1 restricted, 2 denied, 3 authorized.
    enum Status { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

    virtual ~MicrophoneAccess() = default;

    // Never asks the user.
    virtual int status() = 0;
    // Asks the user and blocks until the answer; true when granted.
    virtual bool ask() = 0;
};

// True when the microphone may be used; asks only while undecided.
bool requestMicAccess(MicrophoneAccess& access);

}
