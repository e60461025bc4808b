// Ids of Framework.rc.
#define IDC_STATIC      (-1)
#define IDD_CONTROLS    100
#define IDD_PAGE_ONE    201
#define IDD_PAGE_TWO    202
#define IDD_PAGE_THREE  203
#define IDI_SQUARE      300
#define IDS_GREETING    1
#define IDC_RADIO_A     1001
#define IDC_RADIO_B     1002
#define IDC_RADIO_C     1003
#define IDC_EDIT        1006
#define IDC_SPIN        1005
#define IDC_SLIDER      1007
#define IDC_COMBO       1013
#define IDC_LIST        1014
#define IDC_PROGRESS    1015
#define IDC_ICON_BUTTON 1016
