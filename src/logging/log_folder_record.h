#pragma once

#include <optional>
#include <string>

namespace quillon {

class Logger;

// The day log's folder as the host was last told at "init", kept where another
// process can find it: a process that loads the library (the engine, through
// the C functions) never receives "init" itself, yet its lines belong in the
// same day log. The record is $XDG_STATE_HOME/quillon-host/log-folder, or
// ~/.local/state/quillon-host/log-folder.

// Empty when neither XDG_STATE_HOME (absolute) nor HOME is set.
std::string logFolderRecordPath();

// Records `folder`, made absolute against this process's working folder, or
// removes the record when logging was switched off. A failure goes to the
// system log; the host's own logging is unaffected.
void recordLogFolder(const std::string& folder, bool logEnable);

// The recorded folder, when there is a record and the folder still exists.
std::optional<std::string> recordedLogFolder();

// Configures `logger` with the recorded folder when nothing in this process
// configured it yet; otherwise, or without a record, leaves it silent as it is.
void adoptRecordedLogFolder(Logger& logger);

}  // namespace quillon
