// SPDX-License-Identifier: GPL-3.0-or-later
// Putting texts into controls, and writing a window's texts to a file (F11).
#pragma once

#include <string>
#include <vector>

class QWidget;

// Control k gets text k (text 0 once k passes LastIndex), padded with a blank
// on both sides when Padded; buttons, labels and group boxes take it as their
// caption, anything else is skipped.
void ApplyTexts(const std::vector<QWidget *> &Controls, const std::vector<const std::string *> &Texts,
                bool Padded, int LastIndex);
// Sets one control's caption.
void SetCaption(QWidget *Control, const std::string &Text);
// The caption of a control ("" for controls without one).
std::string CaptionOf(const QWidget *Control);

// Writes "texts/<window name>.txt" in the current folder: one line
// "<name>.Caption = <text>" (or ".Text = ") per control with a text, children
// after their parent. Failures are ignored.
void DumpFormTexts(const QWidget *Window);
