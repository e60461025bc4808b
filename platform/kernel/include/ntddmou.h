/* ntddmou.h (host stand-in) - mouse device interface: reports and attributes. */
#ifndef _NTDDMOU_
#define _NTDDMOU_

#include <wdm.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DD_MOUSE_DEVICE_NAME "\\Device\\PointerClass"
#define DD_MOUSE_DEVICE_NAME_U L"\\Device\\PointerClass"

#define IOCTL_MOUSE_QUERY_ATTRIBUTES CTL_CODE(FILE_DEVICE_MOUSE, 0, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_MOUSE_INSERT_DATA CTL_CODE(FILE_DEVICE_MOUSE, 1, METHOD_BUFFERED, FILE_ANY_ACCESS)

DEFINE_GUID(GUID_DEVINTERFACE_MOUSE, 0x378de44c, 0x56ef, 0x11d1, 0xbc, 0x8c, 0x00, 0xa0, 0xc9, 0x14, 0x05, 0xdd);

/* MOUSE_INPUT_DATA.Flags */
#define MOUSE_MOVE_RELATIVE 0x0000
#define MOUSE_MOVE_ABSOLUTE 0x0001

/* MOUSE_INPUT_DATA.ButtonFlags */
#define MOUSE_LEFT_BUTTON_DOWN   0x0001
#define MOUSE_LEFT_BUTTON_UP     0x0002
#define MOUSE_RIGHT_BUTTON_DOWN  0x0004
#define MOUSE_RIGHT_BUTTON_UP    0x0008
#define MOUSE_MIDDLE_BUTTON_DOWN 0x0010
#define MOUSE_MIDDLE_BUTTON_UP   0x0020

/* MOUSE_ATTRIBUTES.MouseIdentifier */
#define MOUSE_INPORT_HARDWARE 0x0001
#define MOUSE_I8042_HARDWARE  0x0002
#define MOUSE_SERIAL_HARDWARE 0x0004

typedef struct _MOUSE_INPUT_DATA {
    USHORT UnitId;
    USHORT Flags;
    union {
        ULONG Buttons;
        struct {
            USHORT ButtonFlags;
            USHORT ButtonData;
        };
    };
    ULONG RawButtons;
    LONG LastX;
    LONG LastY;
    ULONG ExtraInformation;
} MOUSE_INPUT_DATA, *PMOUSE_INPUT_DATA;

typedef struct _MOUSE_ATTRIBUTES {
    USHORT MouseIdentifier;
    USHORT NumberOfButtons;
    USHORT SampleRate;
    ULONG InputDataQueueLength;
} MOUSE_ATTRIBUTES, *PMOUSE_ATTRIBUTES;

#ifdef __cplusplus
static_assert(sizeof(MOUSE_INPUT_DATA) == 24, "MOUSE_INPUT_DATA layout");
static_assert(sizeof(MOUSE_ATTRIBUTES) == 12, "MOUSE_ATTRIBUTES layout");
}
#endif

#endif /* _NTDDMOU_ */
