// The panel program for the measurements: main is the product's main, word
// for word, so the start-up path is the real one; the measuring is done by
// shown_probe.cpp, which hooks in when the QApplication is constructed.
#include "panel/panel_app.h"

int main(int argc, char **argv) { return adcard::runPanel(argc, argv); }
