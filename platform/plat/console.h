// The process's console, as a "press any key" wait sees it.
#pragma once

namespace plat {

// True when a key was pressed at the console that standard input reads
// (the key is taken), and also whenever standard input is no interactive
// console at all (closed, a file, a pipe, or a window program without a
// console): a wait for a key then ends at once instead of forever. Does
// not block.
bool ConsoleKeyPressed();

}  // namespace plat
