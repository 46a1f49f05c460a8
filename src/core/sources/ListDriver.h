// The album-list run: the get-albums button and the worker it starts.
#pragma once

#include <functional>
#include <thread>

namespace tamblin {

class TamblinCore;

// Classifies the address box text, runs one Sina list extractor, normalises
// the user and sub folders, reports the count and keeps a successful address
// in the history. Runs on its own thread; talks to the front end only through
// core.m_window.
void GetListFunc(TamblinCore &core);

enum class ListPress {
    NotReady,  // start-up has not finished: nothing happened
    StopAsked, // a run was going on: it stops after the album being added
    Started,
    Failed,    // the worker thread could not be created (reported)
};

// The get-albums button. Starts a run on `worker` when none is going on:
// clears the album list, calls `clearView` (the front end empties its grid),
// and starts GetListFunc; a press during a run only asks it to stop. A
// finished earlier worker held in `worker` is joined first, so a thread
// never outlives the state it uses.
ListPress PressGetAlbums(TamblinCore &core, std::thread &worker,
                         const std::function<void()> &clearView = {});

} // namespace tamblin
