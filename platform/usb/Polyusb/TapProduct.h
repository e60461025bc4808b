/*
 * TapProduct.h of the Polyusb stand-in: the multi-touch line under the USB driver's names. The touch
 * logic and the contact frames of data mode are the serial line's.
 */
#include "../../../sys/Polytap/TapProduct.h"

#undef TAP_PRODUCT_SERVICE_NAME_W
#undef TAP_PRODUCT_DEVICE_NAME_W
#undef TAP_PRODUCT_LINK_NAME_W
#define TAP_PRODUCT_SERVICE_NAME_W L"Polyusb"
#define TAP_PRODUCT_DEVICE_NAME_W  L"\\Device\\Polyusb0"
#define TAP_PRODUCT_LINK_NAME_W    L"\\??\\PolyusbSymLnk1"

/* The device's data pipe, as the simulated PC wires it (see platform/usb/UsbPipe.cpp), and the
 * controller's fixed speed on it. */
#define TAP_USB_PIPE_PORT 10
#define TAP_USB_PIPE_BAUD_RATE 9600
