// The root bus: the PnP manager's own driver, owner of every physical device object (PDO) of the
// machine. A PDO's extension leads back to its device node.
#pragma once

#include <ntddk.h>

namespace tapmachine {

struct DeviceNode;

constexpr ULONG kPdoSignature = 0x6F64504D;  // "MPdo"

typedef struct _PDO_EXTENSION {
    ULONG Signature;
    DeviceNode *Node;
} PDO_EXTENSION, *PPDO_EXTENSION;

// The node of a PDO the root bus made, or null for any other device.
DeviceNode *NodeOfPhysicalDevice(PDEVICE_OBJECT device, PDRIVER_OBJECT rootBus);

}  // namespace tapmachine
