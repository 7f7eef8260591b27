// What a window already shows, as far as this layer's own writes tell, so
// that a status line or progress value equal to the one on screen is not
// sent again. The download engine sends both for every 1 KiB block and most
// repeat the previous one; each send is a synchronous round trip to the
// window's UI thread.
//
// The cache only ever claims a text (or position) that the last completed
// write put there: every write that is not a SendTextOnce/SendProgressOnce
// goes through OtherWrite, and a write that overlapped another write of the
// same window is never remembered, since the two may have reached the window
// in either order. No lock of the cache is held while a raw send or a write
// runs: the UI thread may itself be writing through the layer meanwhile.
#pragma once

#include <functional>

#include "ui/window.h"

namespace ui::detail {

// Sends `text` with `rawSend` unless the window is known to show it already.
void SendTextOnce(WindowHandle w, const char* text, void (*rawSend)(WindowHandle, const char*));

// Sends `position` with `rawSend` unless the window is known to show it.
void SendProgressOnce(WindowHandle w, int position, void (*rawSend)(WindowHandle, int));

// Runs `write`, any other change of the window's text or position (a text
// set directly, typed input, a combo selection): what the cache knew of the
// window is forgotten before and after it.
void OtherWrite(WindowHandle w, const std::function<void()>& write);

// The window is gone; its handle may name another window later. A backend
// whose handles are reused also forgets a handle when it creates a window,
// since a send that raced the destroy may have remembered a text for it.
void Forget(WindowHandle w);

}  // namespace ui::detail
