// The simulated capture device linked into a program instead of loaded as the driver library:
// its six driver functions as a table, for `D2xxLink link(SimDevice::d2xxFunctions());`. It is
// the device the stand-in libraries serve, set up by the same KESTRAVU_SIM_* variables
// (sim_device.h), and like a driver library's device there is one per process.
#pragma once
#include "d2xx.h"
#include "d2xx_devices.h"

namespace SimDevice {

constexpr char kDefaultSerial[] = "KVSIM001";

const D2xxFunctions& d2xxFunctions();
// The library's device list, which holds this one device while it is attached.
const D2xxListFunctions& d2xxListFunctions();

}  // namespace SimDevice
