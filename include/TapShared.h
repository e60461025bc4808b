/*
 * TapShared.h - the vocabulary shared by the touch drivers and the tools.
 *
 * Control codes, the records that cross between user and kernel mode (through DeviceIoControl
 * buffers and registry values), the registry value names and the device and link names.
 *
 * Plain C, usable in kernel and user mode on every target. Include it after <ntddk.h> (drivers)
 * or <windows.h> (tools), which provide the basic types. Every record is fixed-size and
 * little-endian; sizes and field offsets are checked at compile time below.
 */
#ifndef TAP_SHARED_H
#define TAP_SHARED_H

#ifdef __cplusplus
#define TAP_STATIC_ASSERT(expr, msg) static_assert(expr, msg)
#else
#define TAP_STATIC_ASSERT(expr, msg) _Static_assert(expr, msg)
#endif

#include <stddef.h> /* offsetof, for the layout checks */
#define TAP_FIELD_OFFSET(type, field) offsetof(type, field)

/* ---- Control codes ----------------------------------------------------------------------------
 * CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS) with functions from
 * 0x801 upward: input and output share one system buffer, and every length must match exactly. */
#define TAP_CTL_CODE(function) ((0x22UL << 16) | ((unsigned long)(function) << 2))

#define IOCTL_TOUCH_CLOSE_PORT          TAP_CTL_CODE(0x801) /* 0x222004 */
#define IOCTL_TOUCH_OPEN_PORT           TAP_CTL_CODE(0x802) /* 0x222008: in 4 bytes, port 1..10 */
#define IOCTL_TOUCH_SET_CALIBRATION     TAP_CTL_CODE(0x803) /* 0x22200C: in CalibrationData */
#define IOCTL_TOUCH_GET_RAW_SAMPLE      TAP_CTL_CODE(0x804) /* 0x222010: out RawSample */
#define IOCTL_TOUCH_SET_SETTINGS        TAP_CTL_CODE(0x805) /* 0x222014: in POINTER_SETTINGS */
#define IOCTL_TOUCH_BEEP                TAP_CTL_CODE(0x806) /* 0x222018: in frequency, duration */
#define IOCTL_TOUCH_SET_RIGHT_CLICK     TAP_CTL_CODE(0x807) /* 0x22201C */
#define IOCTL_TOUCH_GET_RIGHT_CLICK     TAP_CTL_CODE(0x808) /* 0x222020: out 4 bytes */
#define IOCTL_TOUCH_START_DATA_MODE     TAP_CTL_CODE(0x809) /* 0x222024 */
/* Multi-touch driver only. */
#define IOCTL_TOUCH_GET_CONTACT_FRAME   TAP_CTL_CODE(0x80A) /* 0x222028: out ContactFrame */
#define IOCTL_TOUCH_STOP_DATA_MODE      TAP_CTL_CODE(0x80B) /* 0x22202C */
#define IOCTL_TOUCH_SET_BAUD_RATE       TAP_CTL_CODE(0x80C) /* 0x222030: in 4 bytes, baud */
#define IOCTL_TOUCH_PROBE               TAP_CTL_CODE(0x8FF) /* 0x2223FC: out 4 bytes, value 1 */

TAP_STATIC_ASSERT(IOCTL_TOUCH_CLOSE_PORT == 0x222004, "control code");
TAP_STATIC_ASSERT(IOCTL_TOUCH_START_DATA_MODE == 0x222024, "control code");
TAP_STATIC_ASSERT(IOCTL_TOUCH_GET_CONTACT_FRAME == 0x222028, "control code");
TAP_STATIC_ASSERT(IOCTL_TOUCH_SET_BAUD_RATE == 0x222030, "control code");
TAP_STATIC_ASSERT(IOCTL_TOUCH_PROBE == 0x2223FC, "control code");

/* ---- Mouse and beep modes -------------------------------------------------------------------- */
#define MODE_POINT_AND_CLICK    0 /* "Point and Click" */
#define MODE_DRAG_THEN_CLICK    1 /* "Drag then Click" */
#define MODE_CLICK_AND_DRAG     2 /* "Click and Drag" (the drivers' default) */
#define MODE_INTERACTIVE_TOUCH  3 /* "Interactive Touch" */

#define BEEP_OFF         0
#define BEEP_ON_TOUCH    1
#define BEEP_ON_RELEASE  2

/* ---- Records --------------------------------------------------------------------------------- */

/* Pointer settings of the single-touch line (32 bytes); mirrors the Parameters values of the
 * same names and is the input of IOCTL_TOUCH_SET_SETTINGS. */
typedef struct _MonoPointerSettings {
    ULONG MouseMode;
    ULONG DblClickRegion;
    ULONG InterActTime;
    ULONG BeepMode;
    ULONG BeepFreq;
    ULONG BeepTime;
    ULONG Port;
    ULONG Enable;
} MonoPointerSettings, *PMonoPointerSettings;

/* Pointer settings of the multi-touch line (36 bytes): BaudRate sits before Enable. */
typedef struct _PolyPointerSettings {
    ULONG MouseMode;
    ULONG DblClickRegion;
    ULONG InterActTime;
    ULONG BeepMode;
    ULONG BeepFreq;
    ULONG BeepTime;
    ULONG Port;
    ULONG BaudRate;
    ULONG Enable;
} PolyPointerSettings, *PPolyPointerSettings;

/* Raw-to-screen calibration (28 bytes): the registry value Calibration, the input of
 * IOCTL_TOUCH_SET_CALIBRATION and the result of the calibration program. The four raw fields
 * are raw controller units times 100; Orientation 1 or 3 means raw X follows the screen's
 * vertical axis. ScreenWidth and ScreenHeight are the screen size at calibration time. */
typedef struct _CalibrationData {
    LONG RawXStart;
    LONG RawXEnd;
    LONG RawYStart;
    LONG RawYEnd;
    LONG Orientation;
    LONG ScreenWidth;
    LONG ScreenHeight;
} CalibrationData, *PCalibrationData;

#define CALIBRATION_DEFAULT_SCREEN_WIDTH   1024
#define CALIBRATION_DEFAULT_SCREEN_HEIGHT  768

/* The raw position of the last valid touch packet, before clamping (12 bytes); the output of
 * IOCTL_TOUCH_GET_RAW_SAMPLE. RawZ is the single-touch packet's third value (0 in multi-touch). */
typedef struct _RawSample {
    ULONG RawX;
    ULONG RawY;
    ULONG RawZ;
} RawSample, *PRawSample;

/* State of one contact in a contact frame. */
typedef enum _ContactState {
    ContactNone = 0,    /* no contact in this slot */
    ContactDown = 1,    /* the contact has just touched */
    ContactMoved = 2,   /* the contact continues (moved or held) */
    ContactLifted = 4   /* the contact has left; its position is the last one known */
} ContactState;

/* ContactCount values that a reply to IOCTL_TOUCH_GET_CONTACT_FRAME uses to report a condition
 * instead of a frame (all other bytes 0). */
#define CONTACT_COUNT_NONE_QUEUED   0x00
#define CONTACT_COUNT_DATA_MODE_OFF 0xFE
#define CONTACT_COUNT_NO_PORT       0xFF

/* Two contacts of one multi-touch packet in screen pixels (28 bytes), as queued in data mode and
 * returned by IOCTL_TOUCH_GET_CONTACT_FRAME. */
typedef struct _ContactFrame {
    UCHAR Contact1State;   /* ContactState */
    UCHAR Contact1Id;
    UCHAR Reserved1[2];
    LONG  Contact1X;
    LONG  Contact1Y;
    UCHAR Contact2State;   /* ContactState */
    UCHAR Contact2Id;
    UCHAR Reserved2[2];
    LONG  Contact2X;
    LONG  Contact2Y;
    UCHAR ContactCount;
    UCHAR Reserved3[3];
} ContactFrame, *PContactFrame;

/* The input of IOCTL_TOUCH_BEEP has the layout of BEEP_SET_PARAMETERS: frequency in hertz, then
 * duration in milliseconds (8 bytes). */
typedef struct _TOUCH_BEEP_REQUEST {
    ULONG Frequency;
    ULONG Duration;
} TOUCH_BEEP_REQUEST, *PTOUCH_BEEP_REQUEST;

TAP_STATIC_ASSERT(sizeof(ULONG) == 4 && sizeof(LONG) == 4, "ULONG and LONG are 32-bit (LLP64)");
TAP_STATIC_ASSERT(sizeof(MonoPointerSettings) == 32, "MonoPointerSettings is 32 bytes");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(MonoPointerSettings, Port) == 24, "Port at 24");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(MonoPointerSettings, Enable) == 28, "Enable at 28");
TAP_STATIC_ASSERT(sizeof(PolyPointerSettings) == 36, "PolyPointerSettings is 36 bytes");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(PolyPointerSettings, BaudRate) == 28, "BaudRate at 28");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(PolyPointerSettings, Enable) == 32, "Enable at 32");
TAP_STATIC_ASSERT(sizeof(CalibrationData) == 28, "CalibrationData is 28 bytes");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(CalibrationData, RawXEnd) == 4, "RawXEnd at 4");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(CalibrationData, RawYStart) == 8, "RawYStart at 8");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(CalibrationData, RawYEnd) == 12, "RawYEnd at 12");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(CalibrationData, Orientation) == 16, "Orientation at 16");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(CalibrationData, ScreenWidth) == 20, "ScreenWidth at 20");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(CalibrationData, ScreenHeight) == 24, "ScreenHeight at 24");
TAP_STATIC_ASSERT(sizeof(RawSample) == 12, "RawSample is 12 bytes");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(RawSample, RawZ) == 8, "RawZ at 8");
TAP_STATIC_ASSERT(sizeof(ContactFrame) == 28, "ContactFrame is 28 bytes");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(ContactFrame, Contact1Id) == 1, "Contact1Id at 1");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(ContactFrame, Contact1X) == 4, "Contact1X at 4");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(ContactFrame, Contact1Y) == 8, "Contact1Y at 8");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(ContactFrame, Contact2State) == 12, "Contact2State at 12");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(ContactFrame, Contact2Id) == 13, "Contact2Id at 13");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(ContactFrame, Contact2X) == 16, "Contact2X at 16");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(ContactFrame, Contact2Y) == 20, "Contact2Y at 20");
TAP_STATIC_ASSERT(TAP_FIELD_OFFSET(ContactFrame, ContactCount) == 24, "ContactCount at 24");
TAP_STATIC_ASSERT(sizeof(TOUCH_BEEP_REQUEST) == 8, "TOUCH_BEEP_REQUEST is 8 bytes");

/* ---- Registry -------------------------------------------------------------------------------
 * Values under HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<driver>\Parameters. Narrow
 * names for the tools (Reg*A), wide names for the drivers (Zw*). */
#define TAP_PARAMETERS_SUBKEY_A  "Parameters"
#define TAP_PARAMETERS_SUBKEY_W  L"Parameters"

#define TAP_VALUE_MOUSE_MODE_A        "MouseMode"
#define TAP_VALUE_DBL_CLICK_REGION_A  "DblClickRegion"
#define TAP_VALUE_INTER_ACT_TIME_A    "InterActTime"
#define TAP_VALUE_BEEP_MODE_A         "BeepMode"
#define TAP_VALUE_BEEP_FREQ_A         "BeepFreq"
#define TAP_VALUE_BEEP_TIME_A         "BeepTime"
#define TAP_VALUE_PORT_A              "Port"
#define TAP_VALUE_BAUD_RATE_A         "BaudRate"
#define TAP_VALUE_ENABLE_A            "Enable"
#define TAP_VALUE_CALIBRATION_A       "Calibration"
#define TAP_VALUE_CALIBRATE_MARGIN_A  "CalibrateMargin"
#define TAP_VALUE_OEM_INF_PATH_A      "OemInfPath"
#define TAP_VALUE_FIR_COLOR_A         "FirColor"
#define TAP_VALUE_SEC_COLOR_A         "SecColor"

#define TAP_VALUE_MOUSE_MODE_W        L"MouseMode"
#define TAP_VALUE_DBL_CLICK_REGION_W  L"DblClickRegion"
#define TAP_VALUE_INTER_ACT_TIME_W    L"InterActTime"
#define TAP_VALUE_BEEP_MODE_W         L"BeepMode"
#define TAP_VALUE_BEEP_FREQ_W         L"BeepFreq"
#define TAP_VALUE_BEEP_TIME_W         L"BeepTime"
#define TAP_VALUE_PORT_W              L"Port"
#define TAP_VALUE_BAUD_RATE_W         L"BaudRate"
#define TAP_VALUE_ENABLE_W            L"Enable"
#define TAP_VALUE_CALIBRATION_W       L"Calibration"

/* Highest COM port number a driver opens; a Port above it leaves the port closed. */
#define TAP_MAX_PORT_NUMBER 10

/* ---- Device and link names ------------------------------------------------------------------ */
#define MONOTAP_SERVICE_NAME_A        "Monotap"
#define MONOTAP_SERVICE_NAME_W        L"Monotap"
#define MONOTAP_DEVICE_NAME_W         L"\\Device\\Monotap0"
#define MONOTAP_LINK_NAME_W           L"\\??\\MonotapSymLnk1"
#define MONOTAP_USER_PATH_A           "\\\\.\\MonotapSymLnk1"
#define MONOTAP_HARDWARE_ID_A         "*Monotap"

#define POLYTAP_SERVICE_NAME_A        "Polytap"
#define POLYTAP_SERVICE_NAME_W        L"Polytap"
#define POLYTAP_DEVICE_NAME_W         L"\\Device\\Polytap0"
#define POLYTAP_LINK_NAME_W           L"\\??\\PolytapSymLnk1"
#define POLYTAP_USER_PATH_A           "\\\\.\\PolytapSymLnk1"
#define POLYTAP_HARDWARE_ID_A         "*Polytap"

#define TAP_SERVICES_KEY_A  "SYSTEM\\CurrentControlSet\\Services\\"

#endif /* TAP_SHARED_H */
