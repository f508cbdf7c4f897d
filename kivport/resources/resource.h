// Control ids of the driver's dialog templates.
#pragma once

#define IDC_PORT_NAME 1005
#define IDC_PARITY_NONE 1006
#define IDC_PARITY_EVEN 1007
#define IDC_PARITY_ODD 1008
#define IDC_CTS_ON 1009
#define IDC_CTS_OFF 1010
#define IDC_XFLOW_ON 1011
#define IDC_XFLOW_OFF 1012
#define IDC_SPEED 1013
#define IDC_DATA_7 1015
#define IDC_DATA_8 1016
#define IDC_STOP_1 1017
#define IDC_STOP_2 1018
#define IDC_SPEED_LABEL 1022
#define IDC_PARITY_GROUP 1023
#define IDC_LENGTH_GROUP 1024
#define IDC_STOP_GROUP 1025
#define IDC_XFLOW_GROUP 1026
#define IDC_CSMON_GROUP 1027
