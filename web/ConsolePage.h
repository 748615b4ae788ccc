// The browser console page as served, compiled into the program from web/console.html
// and the parts it inlines (web/console.css, web/js/*.js).
#pragma once

#include <cstddef>

extern const char KAMORA_UI_HTML[];            // zero-terminated
extern const std::size_t KAMORA_UI_HTML_SIZE;  // bytes, without the terminator
