// The data-synchronisation wizard.
#include "wizard/MldrMainView.h"

int main(int argc, char** argv) { return pelvar::MeldrunMain(argc, argv); }
