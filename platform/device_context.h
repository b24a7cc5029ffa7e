// Stands in for the screen device context (GetDC / ReleaseDC): a non-null token that
// bitmap storage takes as permission to make pixel memory. Nothing is drawn.
#pragma once

struct DeviceContextToken;
using DeviceContext = DeviceContextToken*;

namespace platform {
/// Never null.
DeviceContext screenDeviceContext();
void releaseDeviceContext(DeviceContext context);
} // namespace platform
