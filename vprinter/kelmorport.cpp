// Placeholder: refuses everything until the stand-in library is written.
#include "portlib/KelmorPort.h"

extern "C" {
PortHandle OpenPortA(const char*, const char*, uint32_t) { return nullptr; }
VX_BOOL ClosePort(PortHandle) { return VX_FALSE; }
VX_BOOL WritePort(PortHandle, const void*, uint32_t, uint32_t*) { return VX_FALSE; }
VX_BOOL ReadPort(PortHandle, void*, uint32_t, uint32_t*) { return VX_FALSE; }
VX_BOOL ResetDevice(PortHandle) { return VX_FALSE; }
VX_BOOL GetOnlineStatus(PortHandle, VX_BOOL*) { return VX_FALSE; }
VX_BOOL GetParsedStatus(PortHandle, void*) { return VX_FALSE; }
VX_BOOL GetParsedStatusEx(PortHandle, void*, uint32_t) { return VX_FALSE; }
VX_BOOL BeginCheckedBlockEx(PortHandle, void*, uint32_t) { return VX_FALSE; }
VX_BOOL EndCheckedBlockEx(PortHandle, void*, uint32_t) { return VX_FALSE; }
}
