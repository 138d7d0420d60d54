// Every heap allocation of the benchmark process is counted (the C library's
// malloc and its kin are replaced by counting ones, so operator new and the
// physics library's own allocator are counted too); a benchmark reads the
// count before and after the frames it measures.
#pragma once

// Allocations made since the process started.
long AllocationCount();
