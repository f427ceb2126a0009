// `dravix-testable`: the app's run with the test control channel (AppTestControl.h), for the tests
// that drive the real program as a child process. Built with the tests only, never installed.
#include "AppTestControl.h"

int main(int argc, char** argv) { return run_app(argc, argv, test_control()); }
