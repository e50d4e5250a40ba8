// Resource ids of TabletUpdate. Shared by the resource script and the code.
#ifndef TABLETUPDATE_RESOURCE_H
#define TABLETUPDATE_RESOURCE_H

#define IDD_UPDATE_DIALOG       102
#define IDI_APP_ICON            128

#define IDC_AUTO_BURN           1000
#define IDC_AUTO_BURN_FILE      1003
#define IDC_RESULT              1004
#define IDC_WRITE_DELAY         1005
#define IDC_WRITE_DELAY_MS      1006
#define IDC_GET                 1020
#define IDC_SET                 1021
#define IDC_DATA_READ           1023
#define IDC_ADDRESS             1024
#define IDC_SET_VALUE           1025
#define IDC_GET_ALL             1027
#define IDC_DUMP_LIST           1037
#define IDC_SAVE                1038
#define IDC_LOAD                1039
#define IDC_SET_ALL             1040
// Not in the template: the service station creates its tally line itself.
#define IDC_TALLY               1041
#define IDC_RECORD              1042
#define IDC_RECORD_FILE         1043

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif

#endif
