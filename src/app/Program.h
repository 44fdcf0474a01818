#pragma once
// The program from the mode dialog to the end of the message loop. Needs a
// TApplication (or any QApplication) to exist; returns the exit code, 0.

int RunProgram();
