// Ids of Control.rc.
#define IDC_STATIC          (-1)
#define IDD_CONTROL_PANEL   100
#define IDC_APPLETS         1001
#define IDC_DESCRIPTION     1002
