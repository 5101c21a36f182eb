// Text of paths and names over Win32. Inside the program text is UTF-8.
// Where the active code page is UTF-8 (the program's manifest asks for it,
// and Windows 10 1903 and later grant it) the A entry points take and give
// UTF-8 as they are; elsewhere the backends call the W entry points and
// convert at the call.
#ifndef TESSMARK_FILEIO_WIN32_H
#define TESSMARK_FILEIO_WIN32_H

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

// 1 when the A entry points carry UTF-8; else 0.
int PathText_AnsiIsUtf8(void);

// UTF-8 text to UTF-16 with its NUL, in at most capacity units. 1, or 0
// when the text is no valid UTF-8 or does not fit (out is then "").
int PathText_ToWide(const char* text, wchar_t* out, int capacity);

// UTF-16 text to UTF-8 with its NUL, in at most capacity bytes. 1, or 0
// when it does not fit (out is then "").
int PathText_FromWide(const wchar_t* text, char* out, int capacity);

#ifdef __cplusplus
}
#endif

#endif
