/* The framework's parameter loading, renamed so that UsbPipe.cpp can wrap it. */
#define ReadParameters TapFrameworkReadParameters
#include "../../sys/common/Parameters.cpp"
