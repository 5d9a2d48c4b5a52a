#pragma once
// The files in which earlier versions kept the update records (updates.json) and the history
// (history.jsonl), taken over into the state store once: read beside the store when it is
// opened, written into it in the opening's transaction, then, once that is committed, renamed aside
// (".imported"), so no record is lost across the upgrade; the store notes each file it took
// (device, inode, size, time), so none is taken twice. What could not have been written by
// an update is logged and left out, as those versions did; a file that is not a regular one
// (a link, a FIFO) is never opened. [any], inside the store's opening.

#include <QString>
#include <QStringList>

namespace pm {

class Sql;

// Takes the files beside `storePath` into the store; `taken` gets their paths. False on an error
// of the database (the opening then fails and nothing is renamed).
bool importLegacyFiles(Sql& sql, const QString& storePath, QStringList* taken);
// After the commit: each taken file goes aside.
void renameAside(const QStringList& taken);

}  // namespace pm
