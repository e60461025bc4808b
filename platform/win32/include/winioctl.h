/*
 * winioctl.h (host stand-in) - control-code construction for DeviceIoControl: device types,
 * transfer methods and required access, with the values of the real header.
 */
#ifndef _WINIOCTL_
#define _WINIOCTL_

#define FILE_DEVICE_BEEP 0x00000001
#define FILE_DEVICE_MOUSE 0x0000000f
#define FILE_DEVICE_SERIAL_PORT 0x0000001b
#define FILE_DEVICE_UNKNOWN 0x00000022

#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))
#define DEVICE_TYPE_FROM_CTL_CODE(ctrlCode) (((DWORD)(ctrlCode & 0xffff0000)) >> 16)
#define METHOD_FROM_CTL_CODE(ctrlCode) ((DWORD)(ctrlCode & 3))

#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3

#define FILE_ANY_ACCESS 0
#define FILE_SPECIAL_ACCESS (FILE_ANY_ACCESS)
#define FILE_READ_ACCESS (0x0001)
#define FILE_WRITE_ACCESS (0x0002)

#ifndef DEVICE_TYPE
#define DEVICE_TYPE DWORD
#endif

#endif /* _WINIOCTL_ */
