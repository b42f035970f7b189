#include "panel/panel_app.h"

int main(int argc, char **argv) { return adcard::runPanel(argc, argv); }
