// The tool's standard output is checked like any file it writes: a full
// disk or a closed stdout must not pass for a printed result.
#pragma once

// Flushes stdout; the first failure's reason is kept for the end.
void FlushStandardOutput();

// Flushes and closes stdout. A failure at any time turns status 0 into 1
// and is told on stderr; other statuses are kept.
int CloseStandardOutput(int status);
