/* The framework's control requests, renamed so that UsbPipe.cpp can wrap them. */
#define DispatchControlRequest TapFrameworkControlRequest
#include "../../sys/common/ControlDevice.cpp"
