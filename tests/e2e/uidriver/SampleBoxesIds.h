#pragma once

// Resource IDs of the sample program the UI driver is tested against.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDD_SAMPLE_SETTINGS 100
#define IDC_SAMPLE_NAME 1000
