// Dialogs of the framework's tests.
#pragma once

#define IDD_TEST_RESIZE 100
#define IDD_TEST_BAD_CONTROL 101
#define IDD_TEST_BROWSER 102
#define IDC_TEST_EDIT 10
#define IDC_TEST_HOST 11
