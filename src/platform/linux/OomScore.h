#pragma once

// How far below other processes the kernel's out-of-memory killer ranks the program: a user who fills
// memory must not be able to end the curfew by it. Well below zero, short of -1000 (never killed), so
// that a runaway program itself can still be stopped.
inline constexpr int ProgramOomScoreAdjust = -900;

// Lowers this process's rank to ProgramOomScoreAdjust where it has the right to (CAP_SYS_RESOURCE, as
// root has); never raises a rank already set lower. Without the right nothing changes.
void lowerOomScore();
