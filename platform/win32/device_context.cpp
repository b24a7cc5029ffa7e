#include "platform/device_context.h"

#include <windows.h>

// DeviceContext is the screen's HDC under the opaque name the callers know.
namespace platform {
DeviceContext screenDeviceContext() { return reinterpret_cast<DeviceContext>(GetDC(nullptr)); }

void releaseDeviceContext(DeviceContext context) {
    if (context != nullptr)
        ReleaseDC(nullptr, reinterpret_cast<HDC>(context));
}
} // namespace platform
