#include "HostPlatform.h"

HostPlatform CurrentHostPlatform() {
#if defined(__APPLE__)
    return HostPlatform::MacOS;
#elif defined(_WIN32)
    return HostPlatform::Windows;
#else
    return HostPlatform::Linux;
#endif
}

std::set<std::string> PortNamesFor(const Update& update, HostPlatform platform) {
    if (platform == HostPlatform::MacOS && !update.macNames.empty()) return update.macNames;
    return update.winPort.names;
}
