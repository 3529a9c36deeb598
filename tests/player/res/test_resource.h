#pragma once

#define IDB_TEST_STRIP4 900
#define IDB_TEST_STRIP7 901
#define IDD_TEST_SKINNED 950
