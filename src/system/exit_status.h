#pragma once

// The program's exit statuses, the only ones it ends with (a terminating
// signal aside, which ends it by that signal).

namespace tavimor {

// Every rock written, or the user quit at a digit question.
inline constexpr int kExitSuccess = 0;
// Something failed: a file, the console, memory, standard output; or the
// user pressed Escape in the file name entry.
inline constexpr int kExitFailure = 1;
// The command line asked for something the program does not do.
inline constexpr int kExitUsage = 2;

}  // namespace tavimor
