#pragma once
// Dialog templates and control IDs of the library's resources.

#define IDD_ATTACHMENT_LIST 101
#define IDD_SETUP 102

#define IDC_ATTACHMENT_LIST 1000
#define IDC_ATTACHMENT_COUNT 1004
#define IDC_BACKUP 1005
#define IDC_DELETE_MSG 1008
#define IDC_HTML_MSG_OFF 1009
