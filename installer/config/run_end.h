#pragma once

namespace installer {

// The exit code of an installer run, for scripts and for whoever reads a log:
// a failure must never look like success to a caller that checks.
enum class ExitCode : int {
  Installed = 0,    // every chosen copy installed
  Failed = 1,       // an error ended the run: a message, a failed copy, a failed MetaTrader 4 step
  EndedByUser = 2,  // Cancel, Escape, the close box, declined terms, No to the .NET question
};

// How a step before the installation ends: the run goes on, or it ends with
// a failure or by the user's choice. The values keep 1 for "go on" and 0 for a
// failure, as the steps have always answered.
enum StepEnd : int { kStepFailed = 0, kStepGoOn = 1, kStepEndedByUser = 2 };

inline ExitCode exitCodeOf(StepEnd end) { return end == kStepEndedByUser ? ExitCode::EndedByUser : ExitCode::Failed; }

}  // namespace installer
