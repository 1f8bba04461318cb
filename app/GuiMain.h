// The program's whole run, from the command line to the exit status: what
// main does, as a function that the end-to-end tests start too.
#pragma once

// Builds the QApplication, reads the options, runs the main window until it
// closes and tears everything down. Returns the exit status.
int CorvelGuiMain(int argc, char** argv);
