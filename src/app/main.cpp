// The `dravix` program: the app's run (AppMain.h), with nothing added to it.
#include "app/AppMain.h"

int main(int argc, char** argv) { return run_app(argc, argv); }
