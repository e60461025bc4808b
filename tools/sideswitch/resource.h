// Resource ids of SideSwitch.rc.
#define IDD_SIDESWITCH  102
#define IDI_SIDESWITCH  128
