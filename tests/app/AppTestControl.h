#pragma once
// A line-based control channel for tests that run the app as a child process: the test build of
// the program (`dravix-testable`, TestableMain.cpp) reads commands from standard input, one per
// line, and writes what happened to standard output, one line each. `dravix` itself has no such
// channel: this file is built into the test program only.
//
//   connect <saved server id>  the first server window connects   -> "connected" | "failed <text>"
//   open <file name>           the server window opens the file in its current folder, and the
//                              document's page holds it            -> "opened" | "failed <text>"
//   type <text>                the document's editor inserts the text at its cursor -> "typed"
//   menu <action>              the main-menu item with that action, in the document window (or
//                              else the key window), is validated and chosen -> "chosen" | "failed"
//   answer <button title>      the alert on screen is answered with that button -> "answered"
//   minimize                   the key window is minimised, as from its title bar -> "minimized"
//   key                        which window is key, and whether it shows
//                                  -> "key server_viewer|main_editor|other shown|minimized" | "key none"
//   document                   once a document's page holds a file: whether it reads as unsaved
//                              (the page counts more changes than the last write saw), whether its
//                              window shows it as modified, and the page's text in Base64
//                                  -> "document unsaved|saved modified|unmodified <Base64>" | "failed ..."
//   windows                    how many server and document windows are open
//                                  -> "windows <count> server <count> document"
//   folder                     the folder the first server window's explorer lists
//                                  -> "folder <path>" ("folder " before any listing)
//
// Unasked, "alert <title>" and then "alert-message <its text on one line>" for every alert as it
// appears, and "waiting <process id>" when the launch waits in a window for a running copy that is
// still starting. The app's own menu items and alerts do the work: the channel only reaches them
// as a user would.
#include "app/AppMain.h"

// What the channel adds to the app's run.
AppRunAdditions test_control();
