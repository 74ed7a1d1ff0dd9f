// The I/O failure seam's side inside the platform file layer: each implementation asks it, before
// the system call, whether this call is to fail, and tells it of handles made and closed.
#pragma once

namespace platform_seam {
// Counts one call (open, read, write, flush, close, rename or remove); true, with errno set to
// the chosen error, when the test hook says this call fails.
bool refuse();
// `n` handles or streams were opened (negative: closed) through this layer.
void opened(int n);
}  // namespace platform_seam
