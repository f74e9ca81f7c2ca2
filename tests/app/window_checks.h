// SPDX-License-Identifier: GPL-3.0-or-later
// Checks every window test makes of what a person sees.
#pragma once

#include <string>
#include <vector>

class QWidget;

// The captions of a window that do not fit their controls ("name: text"), and
// group boxes whose title would cover their first control.
std::vector<std::string> ClippedTexts(const QWidget *window);
