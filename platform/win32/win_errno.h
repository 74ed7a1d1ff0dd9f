// The standard library's symbolic error (errno) for a Windows system or socket error code.
#pragma once

int platform_errno_from_win32(unsigned long code);
