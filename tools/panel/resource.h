// Resource ids of the Control Panel applets (Panel.rc). Where the two lines differ, each has its
// own id; PanelLine.h picks the line's.
#define IDC_STATIC              (-1)

#define IDS_APPLET_NAME_USB         1
#define IDS_APPLET_INFO_USB         2
#define IDS_SHEET_CAPTION           3
#define IDS_APPLET_NAME_SERIAL      4
#define IDS_APPLET_INFO_SERIAL      5

#define IDI_APPLET_MONO             1007  // the Control Panel icon and the Calibrate button's picture
#define IDI_CALIBRATION_MONO        1017  // the large icon of the Calibration page (single-touch)
#define IDI_APPLET_POLY             1022  // the Control Panel icon and large icon (multi-touch)

#define IDD_CALIBRATION             1002
#define IDD_SETTING                 1003
#define IDD_SOUND                   1004
#define IDD_ABOUT                   1005

// Calibration page.
#define IDC_CALIBRATE               1000
#define IDC_MARGIN_EDIT_MONO        1020
#define IDC_MARGIN_SPIN_MONO        1021
#define IDC_MARGIN_EDIT_POLY        1023
#define IDC_MARGIN_SPIN_POLY        1022

// Setting page.
#define IDC_MODE_POINT_AND_CLICK    1001
#define IDC_MODE_CLICK_AND_DRAG     1002
#define IDC_MODE_DRAG_THEN_CLICK    1003
#define IDC_MODE_INTERACTIVE_TOUCH  1004
#define IDC_DOUBLE_CLICK_SPIN       1005
#define IDC_DOUBLE_CLICK_EDIT       1006
#define IDC_DELAY_SLIDER            1007
#define IDC_PORT_LIST               1013
#define IDC_PORT_BUTTON_MONO        1017
#define IDC_BAUD_LIST               1021
#define IDC_PORT_BUTTON_POLY        1026

// Sound page.
#define IDC_FREQUENCY_SLIDER        1007
#define IDC_DURATION_SLIDER         1008
#define IDC_BEEP_MODE_LIST          1010
#define IDC_TEST_BEEP               1016
