/* ntddser.h (host stand-in) - serial port interface records used by the touch drivers. */
#ifndef _NTDDSER_
#define _NTDDSER_

#include <wdm.h>

typedef struct _SERIAL_TIMEOUTS {
    ULONG ReadIntervalTimeout;
    ULONG ReadTotalTimeoutMultiplier;
    ULONG ReadTotalTimeoutConstant;
    ULONG WriteTotalTimeoutMultiplier;
    ULONG WriteTotalTimeoutConstant;
} SERIAL_TIMEOUTS, *PSERIAL_TIMEOUTS;

typedef struct _SERIAL_HANDFLOW {
    ULONG ControlHandShake;
    ULONG FlowReplace;
    LONG XonLimit;
    LONG XoffLimit;
} SERIAL_HANDFLOW, *PSERIAL_HANDFLOW;

typedef struct _SERIAL_BASIC_SETTINGS {
    SERIAL_TIMEOUTS Timeouts;
    SERIAL_HANDFLOW HandFlow;
    ULONG RxFifo;
    ULONG TxFifo;
} SERIAL_BASIC_SETTINGS, *PSERIAL_BASIC_SETTINGS;

static_assert(sizeof(SERIAL_TIMEOUTS) == 20, "SERIAL_TIMEOUTS layout");
static_assert(sizeof(SERIAL_HANDFLOW) == 16, "SERIAL_HANDFLOW layout");
static_assert(sizeof(SERIAL_BASIC_SETTINGS) == 44, "SERIAL_BASIC_SETTINGS layout");

#endif /* _NTDDSER_ */
