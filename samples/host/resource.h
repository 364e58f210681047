// Dialog and control identifiers of the sample host. 1, 2 and 3 are the host's push buttons,
// 1016 and 1027 the progress page's details list and show-details button: the skin relies on them.
#pragma once

#define IDD_MAIN 100
#define IDD_WELCOME 101
#define IDD_PROGRESS 102

#define IDC_NEXT 1
#define IDC_CANCEL 2
#define IDC_BACK 3
#define IDC_PROGRESS 1004
#define IDC_DETAILS 1016
#define IDC_SHOW_DETAILS 1027
#define IDC_STATUS 1006
#define IDC_PHASE 1007
#define IDC_TITLE 1201
#define IDC_BODY 1202
#define IDC_NOTE 1203
#define IDC_INSTALL 1301
#define IDC_QUIT 1302
#define IDC_FOLDER 1019
