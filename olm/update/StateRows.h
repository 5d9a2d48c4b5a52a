#pragma once
// The rows of the state store that more than one of its users writes: the journal and the
// history write their own, the import of the files of earlier versions writes both, and the
// journal's abandoned records go to the history in the transaction that removes them. Each
// function runs inside a transaction of the store (StateStore::write) and answers false on an
// error of the database. [any], under the store's transaction.

#include "olm/update/StateStore.h"
#include "olm/update/UpdateHistory.h"
#include "olm/update/UpdateJournal.h"

namespace pm::rows {

// Whether an update could have written this record (what is read back is checked the same way).
bool usableRecord(const UpdateRecord& record);
// Adds the record, or replaces the one of the same printer.
bool putRecord(Sql& sql, const UpdateRecord& record);
// Appends the outcome; then drops what is beyond the history's bounds.
bool appendOutcome(Sql& sql, const UpdateOutcome& outcome);
// The two halves, for many entries at once: each outcome added, then the bounds applied once.
bool insertOutcome(Sql& sql, const UpdateOutcome& outcome);
bool pruneHistory(Sql& sql);

}  // namespace pm::rows
