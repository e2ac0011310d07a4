#pragma once

class QCommandLineParser;

namespace app {

// Adds --upload, --no-check and --accept-new-host-key to the program's options.
void addUploadOptions(QCommandLineParser &parser);

// Whether the command line names one of those options.
bool isUploadCommand(const QCommandLineParser &parser);

// `troopbook --upload SQUADFILE URL`: checks the squad, then sends it with its companions as the
// upload window does, one line a file. Returns the exit status: 0 when every file beside the
// squad file was stored, 2 when the check stopped it or a companion was not stored, 1 when the
// squad file was not stored.
int uploadCommand(const QCommandLineParser &parser);

} // namespace app
