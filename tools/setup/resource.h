// Resource ids of Setup.rc (both installers).
#define IDC_STATIC          -1
#define IDS_RS232_CONTROLLER 1
#define IDS_USB_CONTROLLER   2
#define IDS_PORT_NOT_CORRECT 3
#define IDS_PORT_UNUSABLE    4
#define IDD_STEP1           102
#define IDD_STEP2           103
#define IDR_MAINFRAME       128
#define IDB_SIDE            131
#define IDC_CONTROLLER_TYPE 1000
#define IDC_PORT_LABEL      1001
#define IDC_PORT            1002
#define IDC_PROGRESS        1003
#define IDC_STATUS          1004
