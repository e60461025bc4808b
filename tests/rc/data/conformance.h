// Ids of Conformance.rc.
#define IDC_STATIC       (-1)
#define IDD_CHINESE      102
#define IDD_SETTINGS     1003
#define IDI_SQUARE       128
#define IDB_STRIP        131
#define IDC_MODE_POINT   1001
#define IDC_MODE_TOUCH   1004
#define IDC_RANGE_EDIT   1006
#define IDC_RANGE_SPIN   1005
#define IDC_DELAY        1007
#define IDC_PORT         1013
#define IDC_PORT_BUTTON  1017
#define IDC_TYPES        1000
#define IDC_PROGRESS     1003
#define IDS_FIRST        1
#define IDS_QUOTED       2

#ifdef APSTUDIO_INVOKED
#define _APS_NEXT_RESOURCE_VALUE 132
#endif
