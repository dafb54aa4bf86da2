#pragma once
#define IDI_QUORVEL 115
#define IDI_SHEET 128
