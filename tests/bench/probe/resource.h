// Ids of Probe.rc.
#define IDC_STATIC      (-1)
#define IDD_PROBE       100
#define IDD_PAGE_FIRST  201
#define IDD_PAGE_SECOND 202
#define IDC_RADIO_A     1001
#define IDC_RADIO_B     1002
#define IDC_RADIO_C     1003
#define IDC_SPIN        1005
#define IDC_EDIT        1006
#define IDC_SLIDER      1007
#define IDC_COMBO       1013
#define IDC_LIST        1014
#define IDC_SHEET       1020
#define IDC_WIZARD      1021
#define IDC_LOG         1030
#define IDC_PAGE_CHECK  1040
#define IDC_PAGE_LOG    1041
