/*
 * UsbPipe.cpp - the one thing the USB stand-ins do differently from the serial drivers they are
 * built from: where the touch data comes from.
 *
 * The simulated PC wires a USB touch device's data pipe as a serial bridge port of its own
 * (COM<TAP_USB_PIPE_PORT>), with the touch controller model at its far end: the same packets as
 * on a serial line. The driver reads it whatever its Parameters say about a COM port, since `Port`,
 * `Enable` and (multi-touch) `BaudRate` mean nothing to a USB driver: they are put back to the
 * pipe's after every load of the Parameters and after every control request. Everything else -
 * devices, mouse reports, raw sample, calibration, settings, beeps, data mode, the no-port answer
 * once the device is unplugged - is the serial framework, compiled under the USB driver's names.
 */
#include "TapDriver.h"

/* The framework's routines this file wraps (renamed where they are compiled, see CMakeLists). */
NTSTATUS TapFrameworkReadParameters(VOID);
NTSTATUS TapFrameworkControlRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp);

static VOID UsePipe(VOID)
{
    TapStore(Globals.Settings.Port, TAP_USB_PIPE_PORT);
    TapStore(Globals.Settings.Enable, 1);
#ifdef TAP_USB_PIPE_BAUD_RATE
    TapStore(Globals.Settings.BaudRate, TAP_USB_PIPE_BAUD_RATE);
#endif
}

/* PASSIVE_LEVEL, from AddDevice. */
NTSTATUS ReadParameters(VOID)
{
    NTSTATUS status = TapFrameworkReadParameters();
    UsePipe();
    return status;
}

/* PASSIVE_LEVEL. The request is the framework's; a settings record it put in force keeps the pipe. */
NTSTATUS DispatchControlRequest(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    NTSTATUS status = TapFrameworkControlRequest(DeviceObject, Irp);
    UsePipe();
    return status;
}
