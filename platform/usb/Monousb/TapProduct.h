/*
 * TapProduct.h of the Monousb stand-in: the single-touch line under the USB driver's names. The touch
 * logic is the serial line's, so a finger means the same raw values and mapping on both buses.
 */
#include "../../../sys/Monotap/TapProduct.h"

#undef TAP_PRODUCT_SERVICE_NAME_W
#undef TAP_PRODUCT_DEVICE_NAME_W
#undef TAP_PRODUCT_LINK_NAME_W
#define TAP_PRODUCT_SERVICE_NAME_W L"Monousb"
#define TAP_PRODUCT_DEVICE_NAME_W  L"\\Device\\Monousb0"
#define TAP_PRODUCT_LINK_NAME_W    L"\\??\\MonousbSymLnk1"

/* The device's data pipe, as the simulated PC wires it (see platform/usb/UsbPipe.cpp). */
#define TAP_USB_PIPE_PORT 9
