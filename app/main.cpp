// corvelgui: the lamp board evaluation window.
#include "app/GuiMain.h"

int main(int argc, char** argv) { return CorvelGuiMain(argc, argv); }
