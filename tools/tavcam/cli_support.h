// Small pieces every command of the tavcam program uses.
#pragma once

#include <stdint.h>

#include <string>

#include "tavcam.h"

// A number in decimal, hexadecimal (0x) or octal; false unless the whole text is one.
bool ParseNumber(const char* text, uint32_t* value);
// Prints the command's usage to standard error; returns 2, the exit code of a usage error.
int Usage(const char* usage);
// Prints that a library call failed for a camera; returns 1.
int Failed(const char* what, const char* name, int32_t result);
// Lists the cameras (which fills this process's table of driver paths; the
// library prints the paths it opens) and initialises the camera.
bool Initialise(const char* name);
// The camera list by device index (the digit after each name's first '-'),
// with the enumeration's lines about each path it opens kept out of the
// program's output. An index without a camera gets an empty name.
void CameraNamesByIndex(std::string (&names)[TAVCAM_MAX_CAMERAS]);
