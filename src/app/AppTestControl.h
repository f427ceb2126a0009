#pragma once
// A line-based control channel for tests that run the real app as a child process: off unless
// the environment variable DRAVIX_TEST_CONTROL is set to 1. It then reads commands from standard
// input, one per line, and writes what happened to standard output, one line each:
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
// appears. The app's own menu items and alerts
// do the work: the channel only reaches them as a user would.
void install_test_control_if_asked();
