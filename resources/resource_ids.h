// Numbers of the resources and commands; shared by kel.rc and the code.
#pragma once

#define IDR_TRAY_MENU 101
#define IDI_PROGRAM 102
#define IDD_VERSION_PAGE 103
#define IDD_ACCOUNTS_PAGE 104
#define IDD_MAIL_PAGE 105
#define IDD_ACCOUNT_EDITOR 106
#define IDD_OAUTH_DETAILS 107
#define IDD_SNTP_PAGE 108
#define IDD_SERVER_STATUS 109
#define IDD_OTHER_PAGE 111
#define IDD_DELETE_LIST_PAGE 114
#define IDD_IGNORE_LIST_PAGE 115
#define IDD_CONDITION_EDITOR 116
#define IDD_SIGN_IN_WAIT 125

// Controls, by dialog. The pages and editors reuse numbers, so one number
// has a name on each dialog that uses it.

// Server status dialog
#define IDC_STATUS_LIST 1001

// Accounts page
#define IDC_ACCOUNTS_LIST 1001
#define IDC_ACCOUNTS_ADD 1002
#define IDC_ACCOUNTS_EDIT 1003
#define IDC_ACCOUNTS_DELETE 1004

// Mail check page
#define IDC_MAILCHECK_SHOW_POPUP 1000
#define IDC_MAILCHECK_INTERVAL 1005
#define IDC_MAILCHECK_SOUND 1006
#define IDC_MAILCHECK_SOUND_FILE 1007
#define IDC_MAILCHECK_BROWSE 1008
#define IDC_MAILCHECK_PLAY 1014
#define IDC_MAILCHECK_BEEP 1017
#define IDC_MAILCHECK_SHOW_ACCOUNT 1019

// Other page
#define IDC_OTHER_TRANSLUCENT 1000
#define IDC_OTHER_DESKTOP_ICONS 1006
#define IDC_OTHER_MAILER 1007
#define IDC_OTHER_BROWSE 1008
#define IDC_OTHER_NO_ANIMATION 1016

// SNTP page
#define IDC_SNTP_INTERVAL 1005
#define IDC_SNTP_SERVER 1007

// Delete list and ignore list pages
#define IDC_RULES_LIST 1001
#define IDC_RULES_ADD 1008
#define IDC_RULES_EDIT 1014
#define IDC_RULES_DELETE 1015

// Account editor
#define IDC_ACCOUNT_APOP 1000
#define IDC_ACCOUNT_SSL 1006
#define IDC_ACCOUNT_ADDRESS 1007
#define IDC_ACCOUNT_SERVER 1009
#define IDC_ACCOUNT_USER 1010
#define IDC_ACCOUNT_PASSWORD 1011
#define IDC_ACCOUNT_OK 1012
#define IDC_ACCOUNT_CANCEL 1013
#define IDC_ACCOUNT_AUTH 1016
#define IDC_ACCOUNT_CLIENT_ID 1017
#define IDC_ACCOUNT_SIGN_IN 1018
#define IDC_ACCOUNT_SIGNED_IN 1019
#define IDC_ACCOUNT_SECRET 1020
#define IDC_ACCOUNT_DETAILS 1021

// The wait for the browser's sign-in, and the other provider's details
#define IDC_SIGN_IN_TEXT 1022
#define IDC_DETAILS_AUTHORIZE 1007
#define IDC_DETAILS_TOKEN 1009
#define IDC_DETAILS_SCOPE 1010
#define IDC_ACCOUNT_PROTOCOL 1023
#define IDC_ACCOUNT_SERVER_LABEL 1024

// Condition editor
#define IDC_CONDITION_KIND 1005
#define IDC_CONDITION_KEYWORD 1007

#define IDB_POPUP_BACKGROUND 110
#define IDI_TRAY_1 112
#define IDI_TRAY_2 113
#define IDI_ERROR_1 116
#define IDI_ERROR_2 117
#define IDB_DIGITS 118
#define IDB_DIGIT_MASK 119
#define IDB_COUNT_1 120
#define IDB_COUNT_2 121
#define IDB_COUNT_MASK_1 122
#define IDB_COUNT_MASK_2 123
// The popup's picture at 125, 150, 175 and 200 %.
#define IDB_POPUP_125 131
#define IDB_POPUP_150 132
#define IDB_POPUP_175 133
#define IDB_POPUP_200 134
// The badge parts for tray icons of 20, 24 and 32 pixels: from each base,
// the order of 118 to 123 (digits, digit mask, count 1, count 2, masks).
#define IDB_BADGE_20 140
#define IDB_BADGE_24 150
#define IDB_BADGE_32 160

#define IDM_START_MAILER 40002
#define IDM_CHECK_NOW 40003
#define IDM_PROPERTIES 40004
#define IDM_EXIT 40005
#define IDM_SYNC_CLOCK 40006
#define IDM_SERVER_STATUS 40007
#define IDM_DESKTOP_ICONS 40010
