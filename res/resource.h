#pragma once
#define IDI_QUORVEL 115  // the program's icon
#define IDI_SHEET 128    // the property sheet's icon, which the host loads by this number
