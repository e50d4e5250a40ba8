#pragma once
// The configuration image the one-shot update writes to EEPROM addresses
// 0..247. Addresses 248..255 are left as the tablet has them. The program
// treats these bytes as opaque.

#include <windows.h>

#include <array>

constexpr unsigned kDefaultImageSize = 0xF8;

extern const std::array<BYTE, kDefaultImageSize> DefaultEepromImage;
