// Resource ids of Align.rc.
#define IDD_CALIBRATION 102
#define IDI_ALIGN       128
