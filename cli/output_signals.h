// The signals that end a tool while it writes its output. An interrupted run
// leaves nothing of its output behind: the file being written aside (see
// avi/output_file.h) is removed before the process ends.
#pragma once

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file of the output
// being written and end the process with 128 plus the signal number,
// whichever thread they arrive on.
void remove_output_on_signals();

// Makes a pipe closed by its reader a write that fails, which the tool
// reports, rather than the silent end of the process.
void report_broken_pipes();
