#pragma once

#include <QCoroTask>
#include <QString>
#include <atomic>
#include <memory>

// Lays "system.caf" and "mic.caf" of a work directory over each other from time zero and exports
// "velmor.m4a" there. Returns its path. Throws VelmorError for an empty recording or an export
// that cannot be set up, and the media layer's error for a file that cannot be read or written
// or an export cancelled through `isCancelled` (may be null). The caller keeps both arguments
// alive until the task ends.
QCoro::Task<QString> mixdownWorkFiles(const QString& dir,
                                      const std::shared_ptr<std::atomic<bool>>& isCancelled = nullptr);
