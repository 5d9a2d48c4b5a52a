#pragma once
// Quitting while a firmware update is unfinished leaves a printer between firmware versions or
// without its colour tables until the application runs again with it connected. A record whose
// printer has stayed away for a week is not asked about any more: at start-up it goes to the
// history as abandoned, and the user is told once. Every way of
// quitting (menu, shortcut, window close, "Quit" in an update dialog, the session ending) goes
// through here: with no update under way it quits at once; otherwise it asks first, naming each
// printer and what quitting now leaves behind. The question goes through pm::alertPresenter(), so
// it needs no widgets.
//
// Threads: [main].

#include <functional>

#include <QString>

namespace pm {

// The question's text for the updates under way; empty when there are none.
QString unfinishedUpdatesText();
// Runs `quit` at once, or after the user confirmed the question. One question at a time: a second
// request while it is shown is dropped.
void quitWhenConfirmed(std::function<void()> quit);
// Archives the records whose printers have not been seen for UpdateJournal::kAbandonedAfter and
// tells the user, once, which updates were abandoned (start-up).
void archiveAbandonedUpdates();

}  // namespace pm
