// Numbers of the resources and commands; shared by kel.rc and the code.
#pragma once

#define IDR_TRAY_MENU 101
#define IDI_PROGRAM 102
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

#define IDM_START_MAILER 40002
#define IDM_CHECK_NOW 40003
#define IDM_PROPERTIES 40004
#define IDM_EXIT 40005
#define IDM_SYNC_CLOCK 40006
#define IDM_SERVER_STATUS 40007
#define IDM_DESKTOP_ICONS 40010

#define KEL_TIMER_MAIL 30000
#define KEL_TIMER_CLOCK 30001
#define KEL_TIMER_TRAY 30002
#define KEL_TRAY_CALLBACK 32868
