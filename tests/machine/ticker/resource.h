#define IDD_TICKER 100
#define IDC_STATIC -1
