// Resource ids of FingerPaint.rc.
#define IDD_ABOUTBOX        100
#define IDS_ABOUTBOX        101
#define IDD_FINGERPAINT     102
#define IDI_FINGERPAINT     128
#define IDC_STATIC          -1
