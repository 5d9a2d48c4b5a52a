#pragma once
// The deployer's model configuration: which USB IDs a model's printers carry and which models are
// admitted, overriding the built-in rows of the model table (olm/model/ModelTraits.h). Read from
// /etc/printer-maintenance/models.conf, then from $XDG_CONFIG_HOME/printer-maintenance/models.conf
// (default ~/.config): a later file overrides an earlier one setting by setting. One line per
// model, '#' starts a comment:
//
//   PZA vendor=0x04f9 product=0x0042 admitted=yes
//   KTC admitted=no
//
// IDs are one to four hex digits (with or without 0x), never 0; admitted is yes or no. A line
// with an unknown model, an unknown setting, a bad value, or a product ID another model already
// has (the product ID tells the model) is skipped whole and named with its file, line and reason.
//
// Threads: [any]; loadModelConfig once at start-up, before the first printer is made.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "olm/model/ModelTraits.h"

namespace pm {

// The lines of `text` (the file `fileName`) applied on top of `ids`; each skipped line adds one
// problem: "<file> line <n>: <reason>".
void applyModelConfig(const QByteArray& text, const QString& fileName, ModelIdTable& ids,
                      QStringList& problems);

struct ModelConfig {
  ModelIdTable ids = builtInIds();
  QStringList problems;
};
// The files that exist among `paths`, in order, on top of the built-in IDs. A file that cannot be
// read, or is larger than 64 KiB, is one problem and changes nothing.
ModelConfig readModelConfig(const QStringList& paths);
// The system-wide file, then the user's.
QStringList modelConfigPaths();
// Reads the files at modelConfigPaths(), installs the IDs, logs each problem and answers them
// (the window shows them once).
QStringList loadModelConfig();

}  // namespace pm
