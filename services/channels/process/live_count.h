// How many message objects and interface holders are alive, for tests of the module's start and stop
// (exported as NuvLiveSingletonCount).
#pragma once

namespace nuv {

class LiveSingleton {
protected:
    LiveSingleton();
    ~LiveSingleton();

public:
    LiveSingleton(const LiveSingleton&) = delete;
    LiveSingleton& operator=(const LiveSingleton&) = delete;
};

}  // namespace nuv
