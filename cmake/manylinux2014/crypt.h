/* Python.h of CPython 3.8 includes <crypt.h>, which Zig's glibc headers leave out
   (the function lives in libcrypt). Only its declaration is needed; nothing calls it. */
#pragma once
char *crypt(const char *phrase, const char *setting);
